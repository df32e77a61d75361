// The encoder context: parameters, derived geometry, schedule, rate control, frame stores and the
// per-picture work buffers. Everything is allocated by EncoderOpen and released by EncoderClose;
// nothing is allocated per picture. The picture coders do not see this struct: they receive a
// PictureCoding view (PictureCoding.h) built from it for one picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AdvancedIPrediction_Annex_I.h"
#include "Buffer.h"
#include "Kernels.h"
#include "MBlockOperations.h"
#include "MotionEst.h"
#include "Picture.h"
#include "PictureHeader.h"
#include "Qdct.h"
#include "R263AVO.h"
#include "RateCtrl.h"
#include "Wavefront.h"
#include "R263COM/ZeroedBytes.h"

namespace r263avo {

using r263com::ZeroedBytes;

// Coded geometry derived from the source format and the input size.
struct Geometry {
    int format = 0;                         // PictureFormat code 1..6
    int inputWidth = 0, inputHeight = 0;    // the caller's picture
    int width = 0, height = 0;              // coded size, multiples of 16
    int headerWidth = 0, headerHeight = 0;  // signalled size (custom format), multiples of 4
    int mbPerRow = 0, mbRows = 0, mbCount = 0;
    int gobRows = 1;          // macroblock rows per GOB (k)
    int mbaBits = 0;          // MBA field width of slice headers
    size_t pictureBytes = 0;  // W x H x 3/2
};

// Fills `g` for `format` (1..6) and the input size; false when that size cannot be coded:
// odd or below 4, larger than the fixed size of formats 1..5, or beyond 2048 x 1152 for the
// custom format.
bool DeriveGeometry(int format, int width, int height, Geometry* g);

// Macroblock rows per GOB for a custom picture of `lines` signalled lines: 1 up to 400, 2 up to
// 800, 4 above (the standard's rule, which decoders apply to the signalled height).
int CustomGobRows(int lines);

// What a call becomes in the picture-type schedule.
enum class Position { kI, kP, kB };

// Picture-type schedule state.
struct Schedule {
    int32_t startFrame = 0;
    int32_t step = 1;       // FrameRateActual
    int32_t bPictures = 0;  // nB after the clamp
    int32_t nextAnchor = 0;
    bool intraPending = false;
    bool firstAnchorPending = true;
    bool firstPPending = true;
    bool firstBPending = true;
    int32_t bSlotIndex = 0;
    int32_t flushCounter = 0;
    int32_t heldAnchorFrame = -1;  // frame number of the first I-picture while it is held
    int32_t lastAnchorFrame = -1;  // frame number of the latest coded I- or P-picture
};

// Classifies the call for frame `frame` and advances the schedule.
Position ClassifyCall(Schedule& s, int32_t frame, bool intraRequest);

class Encoder {
  public:
    bool isOpen = false;
    const char* lastError = nullptr;  // why the last EncoderOpen refused, or null
    EncoderParams params;             // copy taken at open, quantisers clamped
    Geometry geo;
    PictureHeaderConfig header;
    bool gobHeaders = false;
    bool modifiedQuant = false;
    int32_t computeSnr = 0;

    EncoderKernels kernels;  // chosen at open
    SpeedPreset preset{};
    InterQdctTables interTables{};
    Schedule schedule;
    RateControlState rateControl;
    BitWriter writer;
    EncoderStats stats;
    int32_t quant = 0;  // current quantiser (PQUANT of the next picture)

    // Frame stores (coded geometry). Index `current` is the reconstruction of the latest anchor;
    // the other one is its reference. The motion search and the prediction interpolate half-pel
    // samples from them as they need them.
    ZeroedBytes output;
    // The reconstructions in one dense store: every anchor writes one of them whole. Two, or
    // three when the next picture's top rows are coded beside the current picture's (the third
    // receives them while the other two are the current picture and its reference).
    ZeroedBytes reconStore;
    std::array<uint8_t*, 3> recon{};
    int reconCount = 2;
    int current = 0;
    int reference = 1;
    ZeroedBytes anchorInput;

    // B-pictures: the held input pictures with their frame numbers (-1 = empty), and the store of
    // a B-picture's reconstruction (only with ReconstructBPictures).
    std::vector<ZeroedBytes> bSlots;
    std::vector<int32_t> bSlotFrame;
    ZeroedBytes bRecon;

    // Annex I neighbour stores; Annex J coded flag and QUANT of every macroblock, one set for
    // each reconstruction (a picture coded ahead keeps its own).
    AicStores aic;
    std::array<std::vector<uint8_t>, 3> mbCoded;
    std::array<std::vector<uint8_t>, 3> mbQuant;

    // Motion records of the row above (mbPerRow + 1, the last one the spare) and the left one.
    std::vector<MbRecord> aboveRecords;
    MbRecord leftRecord;

    alignas(16) int16_t blocks[6][64] = {};
    alignas(16) int16_t aicPixels[6][64] = {};
    alignas(16) int16_t aicRecon[6][64] = {};
    alignas(16) uint8_t prediction[kPredBytes] = {};

    // With RecordDecisions: what the last picture chose for each macroblock, else empty.
    std::vector<MacroblockDecision> decisions;

    // The threads of the macroblock rows, when more than one is used.
    Wavefront wavefront;
    // Whether the next picture's top rows may be coded beside the current picture's: two
    // threads, no B-pictures, a constant quantiser, no decision records, pictures at the coded
    // size. The caller's next frame (EncoderSetNextFrame) and the picture whose rows were coded
    // ahead, if any.
    bool codeAhead = false;
    int32_t nextFrame = -1;
    const uint8_t* nextPicture = nullptr;
    bool ahead = false;
    int32_t aheadFrame = -1;
    const uint8_t* aheadInput = nullptr;
    int aheadRecon = 0;

    // What the last call coded: the picture's frame number and type, its reconstruction (null
    // for a B-picture that was not reconstructed) and its input at the coded size.
    bool lastCoded = false;
    int32_t lastFrame = -1;
    int32_t lastType = -1;
    const uint8_t* lastRecon = nullptr;
    const uint8_t* lastInput = nullptr;

    // Releases every buffer and returns to the closed state.
    void Release();
};

}  // namespace r263avo
