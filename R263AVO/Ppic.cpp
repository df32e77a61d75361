#include "Ppic.h"

#include <algorithm>

#include "EncodeCoefficients.h"
#include "Idct.h"
#include "Interpolation.h"
#include "Ipic.h"
#include "Iquant.h"
#include "Qdct.h"
#include "Quant.h"
#include "Sad.h"

namespace r263avo {

namespace {

constexpr int kLumaBlocks = 4;
constexpr int kBlocks = 6;

int Median3(int a, int b, int c) {
    return a + b + c - std::max({a, b, c}) - std::min({a, b, c});
}

}  // namespace

int QuantizeInterMacroblock(const PictureCoding& pc) {
    const int chromaQuant = ChromaQuant(pc.quant, pc.modifiedQuant);
    const SpeedPreset& p = *pc.preset;
    const EncoderKernels& k = *pc.kernels;
    int cbp = 0;
    // Blocks 0-1, 2-3 (luma) and 4-5 (chroma) share their quantiser, so they go in pairs.
    for (int b = 0; b < kBlocks; b += 2) {
        const int levels =
            k.qdctInterPair(pc.blocks[b], pc.blocks[b + 1], *pc.interTables,
                            b < kLumaBlocks ? pc.quant : chromaQuant, p.interRowLimit, p.interColLimit);
        // A block the transform tells zero needs no limiting and no test.
        for (int j = 0; j < 2; ++j) {
            if ((levels >> j & 1) && k.limitLevels(pc.blocks[b + j], 0, !pc.modifiedQuant)) cbp |= CbpBit(b + j);
        }
    }
    return cbp;
}

void WriteMvd(BitWriter& bw, const MbRecord& mv, const MotionVector& predictor) {
    WriteMvdComponent(bw, WrapMvd(mv.hx - predictor.x));
    WriteMvdComponent(bw, WrapMvd(mv.hy - predictor.y));
}

PredictionPlaces InterPredictionPlaces(const PictureCoding& pc, int x, int y) {
    return pc.reconstruct ? PicturePlaces(pc.recon, x, y) : r263com::BufferPlaces(pc.prediction);
}

void WriteInterBlocks(const PictureCoding& pc, int x, int y, int cbp) {
    const int chromaQuant = ChromaQuant(pc.quant, pc.modifiedQuant);
    for (int b = 0; b < kBlocks; ++b) {
        if ((cbp & CbpBit(b)) == 0) continue;
        CodeInterBlock(*pc.writer, pc.blocks[b], pc.modifiedQuant);
        if (!pc.reconstruct) continue;
        pc.kernels->dequant.inter(pc.blocks[b], b < kLumaBlocks ? pc.quant : chromaQuant);
        pc.kernels->idct(pc.blocks[b]);
        AddBlockInPlace(*pc.kernels, pc.recon, x, y, b, pc.blocks[b]);
    }
}

namespace {

void CodeInterMacroblock(const PictureCoding& pc, int c, int x, int y, const MbRecord& mv, int cbp) {
    BitWriter& bw = *pc.writer;
    bw.PutBits(1, 0);  // COD: coded
    WriteMcbpcP(bw, kMbInter, cbp & 3);
    WriteCbpy(bw, (cbp >> 2) ^ 15);
    WriteMvd(bw, mv, PredictMotionVector(pc.aboveRecords, *pc.leftRecord, c));
    WriteInterBlocks(pc, x, y, cbp);
}

void CodeIntraMacroblock(const PictureCoding& pc, int i, int c, int x, int y) {
    BitWriter& bw = *pc.writer;
    const IntraMacroblock mb = PrepareIntraMacroblock(pc, x, y, c);
    RecordDecision(pc, i, kDecisionIntra, mb.cbp);
    bw.PutBits(1, 0);  // COD: coded
    WriteMcbpcP(bw, kMbIntra, mb.cbp & 3);
    if (pc.advIntra) WriteIntraMode(bw, mb.mode);
    WriteCbpy(bw, mb.cbp >> 2);
    WriteIntraCoefficients(pc, mb);
    FinishIntraMacroblock(pc, x, y, c);
}

}  // namespace

MotionVector PredictMotionVector(const MbRecord* aboveRow, const MbRecord& left, int c) {
    const MbRecord& above = aboveRow[c];
    if (above.hx == kMvUnavailable) return MotionVector{left.hx, left.hy};
    const MbRecord& aboveRight = aboveRow[c + 1];
    return MotionVector{Median3(left.hx, above.hx, aboveRight.hx), Median3(left.hy, above.hy, aboveRight.hy)};
}

MotionSearchInput MakeMotionSearchInput(const PictureCoding& pc) {
    MotionSearchInput search;
    search.cur = pc.input.y;
    search.width = pc.input.width;
    search.height = pc.input.height;
    search.searchWindow = pc.searchWindow;
    search.preset = pc.preset;
    search.aboveRow = pc.aboveRecords;
    search.left = pc.leftRecord;
    search.sad = pc.kernels->sad;
    search.ref = pc.reference.y;
    search.activity = pc.kernels->activity;
    return search;
}

void BeginMotionSearch(const PictureCoding& pc, MotionSearchInput* search) {
    *search = MakeMotionSearchInput(pc);
}

namespace {

void CodePMacroblock(const PictureCoding& pc, const MotionSearchInput& search, int mbIndex, int column,
                     int mbX, int mbY) {
    CodeMotionMacroblock(
        pc, search, mbIndex, column, mbX, mbY,
        [&](int i, int c, int x, int y) {
            CodeIntraMacroblock(pc, i, c, x, y);
            DeblockAfterMacroblock(pc, i, true);
        },
        [&](int i, int c, int x, int y, const MbRecord& record) {
            const PredictionPlaces pred = InterPredictionPlaces(pc, x, y);
            FormInterPrediction(*pc.kernels, pc.input, pc.reference, x, y, record.hx, record.hy, pred, pc.blocks);
            const int cbp = QuantizeInterMacroblock(pc);
            const bool skipped = cbp == 0 && record.hx == 0 && record.hy == 0;
            RecordDecision(pc, i, skipped ? kDecisionNotCoded : kDecisionInter, cbp, record.hx, record.hy);
            if (skipped) {
                pc.writer->PutBits(1, 1);  // COD: not coded, the prediction is the reconstruction
            } else {
                CodeInterMacroblock(pc, c, x, y, record, cbp);
            }
            DeblockAfterMacroblock(pc, i, !skipped);
        });
}

}  // namespace

MacroblockCoder PMacroblockCoder() {
    return MacroblockCoder{BeginMotionSearch, CodePMacroblock};
}

void CodePPicture(const PictureCoding& pc) {
    ResetPredictionState(pc);
    WritePictureHeader(*pc.writer, *pc.header, pc.pictureType, pc.tr, pc.quant);
    CodeMacroblocks(pc, PMacroblockCoder());
}

}  // namespace r263avo
