// The narrow view of the encoder state that one picture coder works with, and the segment-header
// (GOB or slice) bookkeeping the I-, P- and B-picture coders share.
#pragma once

#include <cstdint>

#include "AdvancedIPrediction_Annex_I.h"
#include "Buffer.h"
#include "Kernels.h"
#include "MBlockOperations.h"
#include "MotionEst.h"
#include "Picture.h"
#include "PictureHeader.h"
#include "Qdct.h"
#include "R263AVO.h"

namespace r263avo {

class Wavefront;

struct PictureCoding {
    const EncoderKernels* kernels = nullptr;  // the encoder's kernel table
    BitWriter* writer = nullptr;
    const PictureHeaderConfig* header = nullptr;
    int pictureType = 0;  // PictureType
    int tr = 0;           // temporal reference, 0..255
    int quant = 0;        // picture quantiser (luma); chroma goes through ChromaQuant
    bool modifiedQuant = false;

    // Geometry (coded size, multiples of 16).
    int mbPerRow = 0, mbCount = 0;
    bool gobHeaders = false;
    int mbPerGob = 0;     // macroblock rows per GOB x macroblocks per row
    bool slices = false;  // Annex K: a slice header every mbPerSlice macroblocks (no GOB headers)
    int mbPerSlice = 1;
    int mbaBits = 0;  // MBA field width of slice headers

    ConstPictureView input;          // picture being coded
    bool reconstruct = true;         // false for B-pictures unless their reconstruction is asked for
    PictureView recon;               // its reconstruction (when `reconstruct`)
    ConstPictureView reference;      // previous anchor's reconstruction (P pictures)

    // Motion search (P pictures).
    const SpeedPreset* preset = nullptr;
    const InterQdctTables* interTables = nullptr;
    int searchWindow = 0;
    MbRecord* aboveRecords = nullptr;  // mbPerRow + 1 records
    MbRecord* leftRecord = nullptr;

    // Annex I: intra macroblocks predict their coefficients from the neighbour stores.
    bool advIntra = false;
    AicStores* aic = nullptr;
    // Annex J (I- and P-pictures): every macroblock is filtered right after its reconstruction;
    // one byte per macroblock tells whether it is coded (COD = 0 or INTRA), one its QUANT.
    bool deblock = false;
    uint8_t* mbCoded = nullptr;
    uint8_t* mbQuant = nullptr;

    // Work buffers.
    int16_t (*blocks)[64] = nullptr;     // six blocks
    int16_t (*aicPixels)[64] = nullptr;  // six blocks: an Annex I macroblock's samples
    int16_t (*aicRecon)[64] = nullptr;   // six blocks: its reconstructed coefficients
    uint8_t* prediction = nullptr;       // kPredBytes

    // When set, CodeMacroblocks spreads the macroblock rows over its threads.
    Wavefront* wavefront = nullptr;

    // mbCount records of what each macroblock chose, when the caller asked for them; else null.
    MacroblockDecision* decisions = nullptr;
};

// Records macroblock mbIndex's final choice (kind as in DecisionKind, the vector in half-pel
// units) when decisions are kept. Each macroblock writes its own record, so the rows' threads
// need no lock.
inline void RecordDecision(const PictureCoding& pc, int mbIndex, uint8_t kind, int cbp, int hx = 0,
                           int hy = 0) {
    if (!pc.decisions) return;
    MacroblockDecision& d = pc.decisions[mbIndex];
    d.kind = kind;
    d.quant = static_cast<uint8_t>(pc.quant);
    d.cbp = static_cast<uint8_t>(cbp);
    d.x = static_cast<int16_t>(hx);
    d.y = static_cast<int16_t>(hy);
}

// How a picture coder codes one macroblock. `begin` sets up what all macroblocks of a picture
// share (the motion search; may be null) once per picture and thread; `code` codes macroblock
// mbIndex at column c, top-left luma sample (x, y), after the segment header and the neighbour
// state are in place. `code` reads the neighbours only through pc.aboveRecords[c],
// pc.aboveRecords[c + 1], *pc.leftRecord and pc.aic, and leaves its own motion record in
// pc.aboveRecords[c].
struct MacroblockCoder {
    void (*begin)(const PictureCoding& pc, MotionSearchInput* search) = nullptr;
    void (*code)(const PictureCoding& pc, const MotionSearchInput& search, int mbIndex, int c, int x,
                 int y) = nullptr;
};

// Codes every macroblock of the picture in order after its header: on this thread, or with
// pc.wavefront by rows on several threads with the same bits.
void CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder);

// The first macroblock of the prediction segment (picture, GOB or slice) that holds mbIndex:
// no prediction reaches a macroblock before it.
inline int SegmentStart(const PictureCoding& pc, int mbIndex) {
    if (pc.slices) return mbIndex - mbIndex % (pc.mbPerSlice > 0 ? pc.mbPerSlice : 1);
    if (pc.gobHeaders) return mbIndex - mbIndex % pc.mbPerGob;
    return 0;
}

// Marks the row above as unavailable for prediction (picture start, GOB header) and clears the
// spare and the left record.
void ResetMotionRecords(const PictureCoding& pc);

// Starts a prediction segment (picture, GOB or slice): resets the motion records and, with
// Annex I, the intra coefficient stores.
void ResetPredictionState(const PictureCoding& pc);

// Called before every macroblock: writes a GOB header at the start of each GOB but the first
// (and resets the prediction state there). `gobCounter` starts at 0 for each picture.
void MaybeWriteGobHeader(const PictureCoding& pc, int mbIndex, int* gobCounter);

// Called before every macroblock, after the picture header: clears the left neighbour at the
// start of a row, then writes the slice header (slice mode) or GOB header that starts at this
// macroblock, each followed by a reset of the prediction state.
void BeginMacroblock(const PictureCoding& pc, int mbIndex, int* gobCounter);

// The macroblock loop of every picture coder: for each macroblock in order, BeginMacroblock and
// then code(mbIndex, column, x, y) with (x, y) its top-left luma sample.
template <typename CodeMacroblock>
void ForEachMacroblock(const PictureCoding& pc, CodeMacroblock&& code) {
    int gobCounter = 0;
    for (int i = 0; i < pc.mbCount; ++i) {
        const int c = i % pc.mbPerRow;
        const int x = c * 16;
        const int y = (i / pc.mbPerRow) * 16;
        BeginMacroblock(pc, i, &gobCounter);
        code(i, c, x, y);
    }
}


// Annex J: records macroblock `mbIndex` as coded (COD = 0 or INTRA) or skipped, with the
// picture's QUANT, and filters the edges that this macroblock completes. No-op without Annex J.
void DeblockAfterMacroblock(const PictureCoding& pc, int mbIndex, bool coded);

// Coded block pattern bit of block b (0..5): 32 for block 0 down to 1 for block 5.
inline int CbpBit(int b) {
    return 32 >> b;
}

}  // namespace r263avo
