#include "MBlockOperations.h"

#include <algorithm>

#include "BlockOperations.h"

namespace r263avo {

namespace {

constexpr int kChromaOffsetCb = 256;  // offsets of the chroma parts in the prediction buffer
constexpr int kChromaOffsetCr = 320;

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
    return {(y / 2) * cw + x / 2, cw, b == 4 ? kChromaOffsetCb : kChromaOffsetCr, 8};
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

void FormInterPrediction(const ConstPictureView& cur, const ConstPictureView& ref, const uint8_t* interp,
                         int x, int y, int mx, int my, uint8_t pred[kPredBytes], int16_t blocks[6][64]) {
    const int W = cur.width, H = cur.height;
    mx = std::clamp(mx, -2 * x, 2 * (W - 16 - x));
    my = std::clamp(my, -2 * y, 2 * (H - 16 - y));

    const BlockKernels k = SelectBlockKernels();
    // Luma: every second sample of every second row of the half-pel image.
    k.fetchLuma16(InterpAt(interp, W, 2 * x + mx, 2 * y + my), InterpStride(W), pred);

    // Chroma with the derived chroma vector.
    const ChromaVectorComponent cx = ChromaComponent(mx), cy = ChromaComponent(my);
    const int cw = W / 2;
    const int offset = (y / 2 + cy.whole) * cw + x / 2 + cx.whole;
    PredictChromaBlock8(ref.u + offset, cw, cx.half, cy.half, pred + kChromaOffsetCb, 8);
    PredictChromaBlock8(ref.v + offset, cw, cx.half, cy.half, pred + kChromaOffsetCr, 8);

    for (int b = 0; b < 6; ++b) {
        const BlockPlace at = PlaceOf(W, x, y, b);
        k.subtract8(PlaneOf(cur, b) + at.planeOffset, at.planeStride, pred + at.predOffset, at.predStride,
                    blocks[b]);
    }
}

void WriteIntraMacroblock(const PictureView& rec, int x, int y, const int16_t blocks[6][64]) {
    for (int b = 0; b < 6; ++b) {
        const BlockPlace at = PlaceOf(rec.width, x, y, b);
        WriteClippedBlock8(blocks[b], PlaneOf(rec, b) + at.planeOffset, at.planeStride);
    }
}

void AddBlockToPrediction(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes],
                          const int16_t block[64]) {
    const BlockPlace at = PlaceOf(rec.width, x, y, b);
    SelectBlockKernels().addClip8(pred + at.predOffset, at.predStride, block,
                                  PlaneOf(rec, b) + at.planeOffset, at.planeStride);
}

void CopyPredictionBlock(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes]) {
    const BlockPlace at = PlaceOf(rec.width, x, y, b);
    CopyBlock8(pred + at.predOffset, at.predStride, PlaneOf(rec, b) + at.planeOffset, at.planeStride);
}

void CopyPredictionMacroblock(const PictureView& rec, int x, int y, const uint8_t pred[kPredBytes]) {
    for (int b = 0; b < 6; ++b) CopyPredictionBlock(rec, x, y, b, pred);
}

}  // namespace r263avo
