// Macroblock-level pixel operations: loading intra macroblocks, forming motion-compensated
// predictions and prediction errors, and writing reconstructions back.
#pragma once

#include <cstdint>

#include "R263COM/BlockPrediction.h"
#include "Picture.h"

namespace r263avo {
struct EncoderKernels;
}

namespace r263avo {

// Macroblock prediction buffer: 16x16 luma (stride 16), then 8x8 Cb, then 8x8 Cr (stride 8).
constexpr int kPredBytes = r263com::kMacroblockBufferBytes;

// Copies the macroblock at (x, y) of `cur` into the six blocks (values 0..255).
void LoadIntraMacroblock(const ConstPictureView& cur, int x, int y, int16_t blocks[6][64]);

// Chroma vector component of a luma half-pel component mc (one vector per macroblock): whole
// part mc >> 2 (floor(mc / 4)), half flag when mc & 3 is nonzero (quarter positions go to half).
struct ChromaVectorComponent {
    int whole;
    bool half;
};
inline ChromaVectorComponent ChromaComponent(int mc) {
    return {mc >> 2, (mc & 3) != 0};
}

// Where a macroblock's prediction is formed (BufferPlaces, or PicturePlaces in the picture being
// reconstructed).
using PredictionPlaces = r263com::MacroblockPlaces;
PredictionPlaces PicturePlaces(const PictureView& rec, int x, int y);

// Builds the prediction of the macroblock at (x, y) for half-pel vector (mx, my): luma and chroma
// interpolated from ref's planes (chroma with the standard's chroma vector); writes the
// prediction to `pred` and cur - pred into the six blocks. A vector that would take the 16x16
// block outside the picture is clamped to the picture edge (the motion search never produces
// one), so nothing outside the planes is read.
void FormInterPrediction(const EncoderKernels& k, const ConstPictureView& cur, const ConstPictureView& ref,
                         int x, int y, int mx, int my, const PredictionPlaces& pred, int16_t blocks[6][64]);
void FormInterPrediction(const EncoderKernels& k, const ConstPictureView& cur, const ConstPictureView& ref,
                         int x, int y, int mx, int my, uint8_t pred[kPredBytes], int16_t blocks[6][64]);
// The same with the kernels of this processor, selected for the call.
void FormInterPrediction(const ConstPictureView& cur, const ConstPictureView& ref, int x, int y, int mx, int my,
                         uint8_t pred[kPredBytes], int16_t blocks[6][64]);

// Writes the six blocks through PixelClip into `rec` at (x, y).
void WriteIntraMacroblock(const PictureView& rec, int x, int y, const int16_t blocks[6][64]);

// rec = PixelClip(pred + block) for block b (0..3 luma quadrants, 4 Cb, 5 Cr).
void AddBlockToPrediction(const EncoderKernels& k, const PictureView& rec, int x, int y, int b,
                          const uint8_t pred[kPredBytes], const int16_t block[64]);
void AddBlockToPrediction(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes],
                          const int16_t block[64]);

// rec = PixelClip(rec + block) for block b, whose prediction was formed in `rec` (PicturePlaces).
void AddBlockInPlace(const EncoderKernels& k, const PictureView& rec, int x, int y, int b, const int16_t block[64]);

// Copies block b of the prediction unchanged into `rec`.
void CopyPredictionBlock(const PictureView& rec, int x, int y, int b, const uint8_t pred[kPredBytes]);

// Copies the whole prediction into `rec`.
void CopyPredictionMacroblock(const PictureView& rec, int x, int y, const uint8_t pred[kPredBytes]);

inline uint8_t PixelClip(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace r263avo
