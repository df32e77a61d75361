#include "MBlockOperations.h"

#include <algorithm>
#include <cstring>

#include "BlockOperations.h"
#include "CPUInfo.h"
#include "Kernels.h"

namespace r263avo {

namespace {

// Where block b (0..3 luma quadrants in raster order, 4 Cb, 5 Cr) of the macroblock at (x, y)
// lies in a picture and in the prediction buffer.
struct BlockPlace {
    int planeOffset;  // offset in its plane
    int planeStride;
    int predOffset;  // offset in the prediction buffer
    int predStride;
};

BlockPlace PlaceOf(int width, int x, int y, int b) {
    if (b < 4) {
        const int bx = (b & 1) * 8, by = (b >> 1) * 8;
        return {(y + by) * width + x + bx, width, by * 16 + bx, 16};
    }
    const int cw = width / 2;
    return {(y / 2) * cw + x / 2, cw, b == 4 ? r263com::kMacroblockBufferCb : r263com::kMacroblockBufferCr, 8};
}

template <typename Picture>
auto PlaneOf(const Picture& p, int b) {
    return b < 4 ? p.y : (b == 4 ? p.u : p.v);
}

}  // namespace

void LoadIntraMacroblock(const ConstPictureView& cur, int x, int y, int16_t blocks[6][64]) {
    for (int b = 0; b < 6; ++b) {
        const BlockPlace at = PlaceOf(cur.width, x, y, b);
        LoadBlock8(PlaneOf(cur, b) + at.planeOffset, at.planeStride, blocks[b]);
    }
}

PredictionPlaces PicturePlaces(const PictureView& rec, int x, int y) {
    return r263com::PicturePlaces(rec.y, rec.u, rec.v, rec.width, x, y);
}

void FormInterPrediction(const EncoderKernels& kernels, const ConstPictureView& cur,
                         const ConstPictureView& ref, int x, int y, int mx, int my, const PredictionPlaces& pred,
                         int16_t blocks[6][64]) {
    const int W = cur.width, H = cur.height;
    mx = std::clamp(mx, -2 * x, 2 * (W - 16 - x));
    my = std::clamp(my, -2 * y, 2 * (H - 16 - y));

    const BlockKernels& k = kernels.block;
    // The encoder's pictures use rounding type 0.
    kernels.interpolateBlock(ref.y + static_cast<long>(y + (my >> 1)) * W + x + (mx >> 1), W, mx & 1, my & 1, 0,
                             16, pred.y, pred.yStride);

    // Chroma with the derived chroma vector.
    const ChromaVectorComponent cx = ChromaComponent(mx), cy = ChromaComponent(my);
    const int cw = W / 2;
    const int offset = (y / 2 + cy.whole) * cw + x / 2 + cx.whole;
    const int hx = cx.half ? 1 : 0, hy = cy.half ? 1 : 0;
    kernels.interpolateBlock(ref.u + offset, cw, hx, hy, 0, 8, pred.u, pred.cStride);
    kernels.interpolateBlock(ref.v + offset, cw, hx, hy, 0, 8, pred.v, pred.cStride);

    // One call for the four luma blocks: the macroblock's share of calls and block placing is
    // about as large as the subtraction itself.
    k.subtract16(cur.y + static_cast<long>(y) * W + x, W, pred.y, pred.yStride, blocks);
    const long chroma = static_cast<long>(y / 2) * cw + x / 2;
    k.subtract8(cur.u + chroma, cw, pred.u, pred.cStride, blocks[4]);
    k.subtract8(cur.v + chroma, cw, pred.v, pred.cStride, blocks[5]);
}

void FormInterPrediction(const EncoderKernels& kernels, const ConstPictureView& cur,
                         const ConstPictureView& ref, int x, int y, int mx, int my, uint8_t pred[kPredBytes],
                         int16_t blocks[6][64]) {
    FormInterPrediction(kernels, cur, ref, x, y, mx, my, r263com::BufferPlaces(pred), blocks);
}

void AddBlockInPlace(const EncoderKernels& k, const PictureView& rec, int x, int y, int b, const int16_t block[64]) {
    const BlockPlace at = PlaceOf(rec.width, x, y, b);
    uint8_t* samples = PlaneOf(rec, b) + at.planeOffset;
    // The kernels read each line of the prediction before they write it, so in place is safe.
    k.block.addClip8(samples, at.planeStride, block, samples, at.planeStride);
}

void FormInterPrediction(const ConstPictureView& cur, const ConstPictureView& ref, int x, int y, int mx, int my,
                         uint8_t pred[kPredBytes], int16_t blocks[6][64]) {
    FormInterPrediction(SelectEncoderKernels(cpuinfo::SimdFlags()), cur, ref, x, y, mx, my, pred, blocks);
}

void WriteIntraMacroblock(const PictureView& rec, int x, int y, const int16_t blocks[6][64]) {
    for (int b = 0; b < 6; ++b) {
        const BlockPlace at = PlaceOf(rec.width, x, y, b);
        WriteClippedBlock8(blocks[b], PlaneOf(rec, b) + at.planeOffset, at.planeStride);
    }
}

void AddBlockToPrediction(const EncoderKernels& k, const PictureView& rec, int x, int y, int b,
                          const uint8_t pred[kPredBytes], const int16_t block[64]) {
    const BlockPlace at = PlaceOf(rec.width, x, y, b);
    k.block.addClip8(pred + at.predOffset, at.predStride, block, PlaneOf(rec, b) + at.planeOffset,
                     at.planeStride);
}

void AddBlockToPrediction(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes],
                          const int16_t block[64]) {
    AddBlockToPrediction(SelectEncoderKernels(cpuinfo::SimdFlags()), rec, x, y, b, pred, block);
}

void CopyPredictionBlock(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes]) {
    const BlockPlace at = PlaceOf(rec.width, x, y, b);
    CopyBlock8(pred + at.predOffset, at.predStride, PlaneOf(rec, b) + at.planeOffset, at.planeStride);
}

void CopyPredictionMacroblock(const PictureView& rec, int x, int y, const uint8_t pred[kPredBytes]) {
    // Luma as whole 16-sample lines, then the two chroma blocks.
    uint8_t* luma = rec.y + static_cast<long>(y) * rec.width + x;
    for (int j = 0; j < 16; ++j) std::memcpy(luma + static_cast<long>(j) * rec.width, pred + 16 * j, 16);
    CopyPredictionBlock(rec, x, y, 4, pred);
    CopyPredictionBlock(rec, x, y, 5, pred);
}

}  // namespace r263avo
