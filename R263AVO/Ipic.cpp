#include "Ipic.h"

#include <cstring>

#include "EncodeCoefficients.h"
#include "Idct.h"
#include "Interpolation.h"
#include "Iquant.h"
#include "Qdct.h"
#include "Quant.h"

namespace r263avo {

namespace {

constexpr int kLumaBlocks = 4;
constexpr int kBlocks = 6;
constexpr int kMaxPlainLevel = 127;  // the 8-bit escape level without Annex T

int BlockQuant(const PictureCoding& pc, int b) {
    return b < kLumaBlocks ? pc.quant : ChromaQuant(pc.quant, pc.modifiedQuant);
}

bool ExceedsPlainLevel(const int16_t levels[64]) {
    for (int k = 0; k < 64; ++k) {
        if (levels[k] > kMaxPlainLevel || levels[k] < -kMaxPlainLevel) return true;
    }
    return false;
}

// Without Annex T an Annex I level beyond -127..127 cannot be sent. Such levels are limited and
// the reconstructed coefficients rebuilt from what the decoder will read, block by block in
// order, since each block predicts from the ones reconstructed before it.
void LimitAicLevels(const PictureCoding& pc, int column, int mode) {
    bool limited = false;
    for (int b = 0; b < kBlocks; ++b) {
        if (!ExceedsPlainLevel(pc.blocks[b])) continue;
        LimitLevels(pc.blocks[b], 0);
        limited = true;
    }
    if (!limited) return;
    const AicMacroblock& above = pc.aic->Above(column);
    const AicMacroblock& left = column == 0 ? AicUnavailableRecord() : pc.aic->left;
    for (int b = 0; b < kBlocks; ++b) {
        const int16_t* l = AicLeftNeighbour(b, pc.aicRecon, left);
        const int16_t* a = AicAboveNeighbour(b, pc.aicRecon, above);
        DequantizeIntraCopy(pc.blocks[b], pc.aicRecon[b], BlockQuant(pc, b));
        AicReconstruct(pc.aicRecon[b], l, a, mode);
    }
}

}  // namespace

int QuantizeIntraMacroblock(const PictureCoding& pc) {
    const EncoderKernels& k = *pc.kernels;
    int cbp = 0;
    for (int b = 0; b < kBlocks; ++b) {
        k.qdctIntra(pc.blocks[b], BlockQuant(pc, b));
        // Without Annex T the escape carries at most +-127; the reconstruction must use the same
        // level the decoder will see.
        if (k.limitLevels(pc.blocks[b], 1, !pc.modifiedQuant)) cbp |= CbpBit(b);
    }
    return cbp;
}

IntraMacroblock PrepareIntraMacroblock(const PictureCoding& pc, int x, int y, int column) {
    IntraMacroblock mb;
    if (!pc.advIntra) {
        LoadIntraMacroblock(pc.input, x, y, pc.blocks);
        mb.cbp = QuantizeIntraMacroblock(pc);
        return mb;
    }
    LoadIntraMacroblock(pc.input, x, y, pc.aicPixels);
    mb.mode =
        AicCodeMacroblock(pc.aicPixels, pc.quant, ChromaQuant(pc.quant, pc.modifiedQuant), pc.modifiedQuant,
                          *pc.aic, column, pc.blocks, pc.aicRecon, pc.kernels->forwardDct);
    if (!pc.modifiedQuant) LimitAicLevels(pc, column, mb.mode);
    for (int b = 0; b < kBlocks; ++b) {
        if (pc.kernels->limitLevels(pc.blocks[b], 0, false)) mb.cbp |= CbpBit(b);
    }
    return mb;
}

void WriteIntraCoefficients(const PictureCoding& pc, const IntraMacroblock& mb) {
    BitWriter& bw = *pc.writer;
    if (!pc.advIntra) {
        // INTRADC is always sent; a block whose AC levels are all zero writes nothing more.
        for (int b = 0; b < kBlocks; ++b) CodeIntraBlock(bw, pc.blocks[b], pc.modifiedQuant);
        return;
    }
    const uint8_t* scan = AicScan(mb.mode);
    for (int b = 0; b < kBlocks; ++b) {
        if (mb.cbp & CbpBit(b)) CodeAicBlock(bw, pc.blocks[b], scan, pc.modifiedQuant);
    }
}

void FinishIntraMacroblock(const PictureCoding& pc, int x, int y, int column) {
    if (!pc.advIntra) {
        if (!pc.reconstruct) return;
        for (int b = 0; b < kBlocks; ++b) {
            pc.kernels->dequant.intra(pc.blocks[b], BlockQuant(pc, b));
            pc.kernels->idct(pc.blocks[b]);
        }
        WriteIntraMacroblock(pc.recon, x, y, pc.blocks);
        return;
    }
    if (pc.reconstruct) {
        // Every block goes through the inverse transform, coded or not: an uncoded block still
        // carries its prediction. The stores keep the coefficients, so transform a copy.
        std::memcpy(pc.blocks, pc.aicRecon, sizeof(int16_t) * kBlocks * 64);
        for (int b = 0; b < kBlocks; ++b) pc.kernels->idct(pc.blocks[b]);
        WriteIntraMacroblock(pc.recon, x, y, pc.blocks);
    }
    AicStoreMacroblock(*pc.aic, column, pc.aicRecon);
}

namespace {

void CodeIMacroblock(const PictureCoding& pc, const MotionSearchInput&, int i, int c, int x, int y) {
    BitWriter& bw = *pc.writer;
    const IntraMacroblock mb = PrepareIntraMacroblock(pc, x, y, c);
    RecordDecision(pc, i, kDecisionIntra, mb.cbp);
    WriteMcbpcI(bw, kMbIntra, mb.cbp & 3);
    if (pc.advIntra) WriteIntraMode(bw, mb.mode);
    WriteCbpy(bw, mb.cbp >> 2);
    WriteIntraCoefficients(pc, mb);
    FinishIntraMacroblock(pc, x, y, c);
    // Every macroblock of an intra picture counts as coded for the filter.
    DeblockAfterMacroblock(pc, i, true);
}

}  // namespace

void CodeIPicture(const PictureCoding& pc) {
    ResetPredictionState(pc);
    WritePictureHeader(*pc.writer, *pc.header, pc.pictureType, pc.tr, pc.quant);
    CodeMacroblocks(pc, MacroblockCoder{nullptr, CodeIMacroblock});
}

}  // namespace r263avo
