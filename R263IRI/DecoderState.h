// The decoder context: bit reader, picture header, stream geometry, frame stores and the state of
// the macroblock being decoded. Shared by the decoder's modules; not part of the public interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AdvancedIPrediction_Annex_I.h"
#include "MacroblockAnalysis.h"
#include "R263COM/BlockPrediction.h"
#include "R263COM/CodingTypes.h"
#include "R263COM/Idct.h"
#include "R263IRI.h"
#include "ReadFunctions.h"

namespace r263iri {

// Picture and macroblock types (shared names, MPPTYPE and MCBPC codes).
using r263com::kMbInter;
using r263com::kMbInter4V;
using r263com::kMbInter4VQ;
using r263com::kMbInterQ;
using r263com::kMbIntra;
using r263com::kMbIntraQ;
using r263com::kPicB;
using r263com::kPicEI;
using r263com::kPicEP;
using r263com::kPicI;
using r263com::kPicImprovedPB;
using r263com::kPicP;

// Every field of the picture header. Fields keep their values from one picture to the next until
// a header sets them again (a PLUSPTYPE header with UFEP 0 carries the last OPPTYPE values over).
struct PictureHeader {
    uint32_t tr = 0;
    uint32_t splitScreen = 0, documentCamera = 0, freezeRelease = 0;
    uint32_t sourceFormat = 0;  // 1..6; 0 until a header names one
    uint32_t plusPtype = 0;     // the current header used PLUSPTYPE
    uint32_t ufep = 0;
    // OPPTYPE
    uint32_t customPcf = 0, umv = 0, sac = 0, ap = 0, aic = 0, df = 0, ss = 0, rps = 0, isd = 0, aiv = 0,
             mq = 0;
    // MPPTYPE
    uint32_t pictureType = kPicI;
    uint32_t rpr = 0, rru = 0, roundingType = 0;
    // Plain PTYPE bit 13
    uint32_t pb = 0;
    uint32_t cpm = 0, psbi = 0;
    // CPFMT / EPAR
    uint32_t par = 0, pwi = 0, phi = 0, eparWidth = 0, eparHeight = 0;
    // CPCFC / ETR
    uint32_t clockConversion = 0, clockDivisor = 0, etr = 0;
    uint32_t uui = 0;
    uint32_t rs = 0, aso = 0;  // SSS
    uint32_t elnum = 0, rlnum = 0;
    uint32_t pquant = 0;
    uint32_t trb = 0, dbquant = 0;
    uint32_t pei = 0;
    uint32_t fourVectors = 0;  // derived: DF or AP on, and not a B picture
    uint32_t obmc = 0;         // derived: AP on in a P picture (overlapped motion compensation)
};

// One record of the motion-vector table: block vectors Y0..Y3, horizontal then vertical, in
// half-pel units; kMvUnavailable marks a record outside the current GOB or slice.
struct MvRecord {
    int32_t x[4];
    int32_t y[4];
};
constexpr int32_t kMvUnavailable = 1000;

// A P-picture macroblock kept for reconstruction after the picture is parsed (overlapped motion
// compensation reads the vectors of the macroblock to the right).
enum class DeferredKind : uint8_t { kNone, kSkipped, kInter, kIntra };
struct DeferredMacroblock {
    DeferredKind kind = DeferredKind::kNone;
    uint8_t cbp = 0, transform = 0, quant = 1;
    bool four = false;
    MvRecord v{};
    int16_t coeffs[6 * 64] = {};
};

class Decoder {
  public:
    BitReader reader;
    PictureHeader hdr;
    // Kernels chosen once from the processor's SIMD flags when the decoder opens (the plain
    // versions until then).
    r263com::IdctFunction idct = r263com::IdctBlockC;
    r263com::InterpolateBlockFunction interpolate = r263com::InterpolateBlockC;
    r263com::AddClipBlockFunction addClip = r263com::AddClipBlock8C;

    // Stream geometry, fixed by the first picture.
    bool setUp = false;
    int codedWidth = 0, codedHeight = 0, displayWidth = 0, displayHeight = 0;
    int chromaWidth = 0, chromaHeight = 0;
    int mbPerRow = 0, mbRows = 0, mbCount = 0, mbaWidth = 0, gobRows = 1;
    uint32_t firstFormat = 0, firstWidth = 0, firstHeight = 0;
    uint32_t pictureBytes = 0;

    uint32_t pictureCounter = 0;
    uint32_t currentTr = 0, lastPTr = 0;
    uint32_t anchorTr[2] = {0, 0};     // TR of the picture in each anchor store
    bool previousAnchorValid = false;  // both anchor stores hold decoded pictures

    // Frame stores: planar Y, Cb, Cr at the coded size.
    std::vector<uint8_t> anchor[2];
    int currentAnchor = 0;    // index of the most recent anchor picture
    bool anchorHeld = false;  // an anchor picture waits to be handed out
    std::vector<uint8_t> bStore;
    std::vector<uint8_t> cropStore;

    // Work tables.
    alignas(16) int16_t coeffs[6 * 64] = {};
    std::vector<MvRecord> mvTable;  // mbPerRow columns, above-right spare, left spare, scratch
    MvRecord* left = nullptr;
    // Block vectors of every macroblock of the most recent anchor picture (zero for intra and
    // skipped macroblocks and for I pictures), for the direct mode of B pictures; fourVector
    // tells which macroblocks had four vectors.
    std::vector<MvRecord> lastPVectors;
    std::vector<uint8_t> lastPFourVector;
    AicStore aic;                  // Annex I neighbour coefficients
    std::vector<uint8_t> mbCoded;  // Annex J: per macroblock, COD = 0 or INTRA
    std::vector<uint8_t> mbQuant;  // Annex J: QUANT of every macroblock
    // Annex F: the macroblocks of a P picture, empty until a picture uses it
    std::vector<DeferredMacroblock> deferred;
    size_t storeBytes = 0;  // bytes held by the stores above

    // Current macroblock.
    int mbNumber = 0, mbColumn = 0, mbRow = 0, mbX = 0, mbY = 0;
    int quant = 1;
    int mbType = 0, cbp = 0, cod = 0, intraMode = 0;
    bool headerRead = false;  // a GOB or slice header preceded this macroblock

    // Macroblock analysis, when the caller asks for it (MacroblockAnalysis.h).
    AnalysisState analysis;

    // Last call, for the caller's log.
    DecoderInfo info;
    std::string message;

    uint8_t* Current() { return anchor[currentAnchor].data(); }
    uint8_t* Previous() { return anchor[currentAnchor ^ 1].data(); }
    int LumaSize() const { return codedWidth * codedHeight; }
    int PictureSize() const { return LumaSize() * 3 / 2; }
};

}  // namespace r263iri
