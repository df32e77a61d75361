// Half-pel interpolation of a reconstructed luma plane into an InterpolatedRef (Picture.h).
#pragma once

#include <cstdint>

namespace r263avo {

// Builds the (2W + 60) x (2H + 60) half-pel image of `luma` (W x H, stride W) into `out`, with
// rounding type 0. The margins are filled by edge replication only when fillMargins is set;
// otherwise they are left untouched.
void InterpolatePicture(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins);

// The same with the given row kernel (InterpolateRowsC or a SIMD version from the kernel table).
using InterpolateRowsFn = void (*)(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0,
                                   uint8_t* out1);
void InterpolatePicture(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins,
                        InterpolateRowsFn rows);

// Plain reference version (InterpolatePicture dispatches to SIMD when available).
void InterpolatePictureC(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins);

// The plain kernel of one pixel row (width samples) into its two half-pel rows: out0 (even
// rows of the image) and out1 (odd rows), 2 x width samples each. `below` is the next pixel row,
// or the row itself for the last one; the last sample repeats itself as its right neighbour.
void InterpolateRowsC(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0, uint8_t* out1);

// Fills the 30-sample margins of an interpolated image whose 2W x 2H interior is complete: each
// row repeats its first and last sample sideways, then the first and last full rows are repeated
// upwards and downwards.
void FillInterpMargins(uint8_t* out, int width, int height);

// A chroma reference plane with a margin of 15 samples on every side: (w + 30) x (h + 30) samples,
// row stride w + 30, sample (i, j) at (j + 15) * (w + 30) + (i + 15).
constexpr int kChromaMargin = 15;
inline int PaddedChromaSize(int width, int height) {
    return (width + 2 * kChromaMargin) * (height + 2 * kChromaMargin);
}

// Copies a w x h chroma plane (stride w) into `out` and fills its margins by edge replication.
void PadChromaPlane(const uint8_t* plane, int width, int height, uint8_t* out);

}  // namespace r263avo
