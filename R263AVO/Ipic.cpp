#include "Ipic.h"

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

int BlockQuant(const PictureCoding& pc, int b) {
    return b < kLumaBlocks ? pc.quant : ChromaQuant(pc.quant, pc.modifiedQuant);
}

}  // namespace

int QuantizeIntraMacroblock(const PictureCoding& pc) {
    int cbp = 0;
    for (int b = 0; b < kBlocks; ++b) {
        QdctIntraBlock(pc.blocks[b], BlockQuant(pc, b));
        // Without Annex T the escape carries at most +-127; the reconstruction must use the same
        // level the decoder will see.
        if (!pc.modifiedQuant) LimitLevels(pc.blocks[b], 1);
        if (BlockHasLevels(pc.blocks[b], 1)) cbp |= CbpBit(b);
    }
    return cbp;
}

void WriteIntraBlocks(const PictureCoding& pc) {
    // INTRADC is always sent; a block whose AC levels are all zero writes nothing more.
    for (int b = 0; b < kBlocks; ++b) CodeIntraBlock(*pc.writer, pc.blocks[b], pc.modifiedQuant);
}

void ReconstructIntraMacroblock(const PictureCoding& pc, int x, int y) {
    for (int b = 0; b < kBlocks; ++b) {
        DequantizeIntraBlock(pc.blocks[b], BlockQuant(pc, b));
        IdctBlock(pc.blocks[b]);
    }
    WriteIntraMacroblock(pc.recon, x, y, pc.blocks);
}

void CodeIPicture(const PictureCoding& pc) {
    BitWriter& bw = *pc.writer;
    WritePictureHeader(bw, *pc.header, pc.pictureType, pc.tr, pc.quant);
    ResetMotionRecords(pc);

    int gobCounter = 0;
    for (int i = 0; i < pc.mbCount; ++i) {
        const int x = (i % pc.mbPerRow) * 16;
        const int y = (i / pc.mbPerRow) * 16;
        MaybeWriteGobHeader(pc, i, &gobCounter);

        LoadIntraMacroblock(pc.input, x, y, pc.blocks);
        const int cbp = QuantizeIntraMacroblock(pc);
        WriteMcbpcI(bw, kMbIntra, cbp & 3);
        WriteCbpy(bw, cbp >> 2);
        WriteIntraBlocks(pc);
        ReconstructIntraMacroblock(pc, x, y);
    }
    InterpolatePicture(pc.recon.y, pc.recon.width, pc.recon.height, pc.reconInterp, false);
}

}  // namespace r263avo
