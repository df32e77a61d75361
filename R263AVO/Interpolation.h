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

// The half-pel rows of pixel rows firstRow..endRow-1 only (no margins): pieces of one picture's
// image can be built by different threads, each reading `luma` and writing its own rows.
void InterpolatePictureRows(const uint8_t* luma, int width, int height, uint8_t* out, int firstRow,
                            int endRow, InterpolateRowsFn rows);

// The three half-pel phases of an interpolated image (width x height interior) as plain planes of
// width x height samples each, one after the other in `phases` (3 x width x height bytes): phase
// (a, b) = (1, 0), (0, 1), (1, 1) holds half-pel sample (2X + a, 2Y + b) at Y * width + X. With
// the reconstruction itself as phase (0, 0), a 16x16 block at any half-pel position inside the
// picture reads 16 contiguous samples a row.
void SplitHalfPelPhasesC(const uint8_t* interp, int width, int height, uint8_t* phases);
using SplitPhasesFn = void (*)(const uint8_t* interp, int width, int height, uint8_t* phases);

// The same row of the three phase planes straight from the pixels, without the half-pel image:
// h, v and hv get the samples at (2X + 1, 2Y), (2X, 2Y + 1) and (2X + 1, 2Y + 1) of the row's two
// half-pel rows (InterpolateRowsC), width samples each, which are the samples SplitHalfPelPhasesC
// takes from the image.
using PhaseRowsFn = void (*)(const uint8_t* row, const uint8_t* below, int width, uint8_t* h, uint8_t* v,
                             uint8_t* hv);
void HalfPelPhaseRowsC(const uint8_t* row, const uint8_t* below, int width, uint8_t* h, uint8_t* v,
                       uint8_t* hv);

// Rows firstRow..endRow-1 of the phase planes of `luma` (W x H, stride W) into `phases`
// (3 x width x height bytes, laid out as SplitHalfPelPhasesC writes them): pieces of one
// picture's planes can be built by different threads.
void HalfPelPhasePlanes(const uint8_t* luma, int width, int height, uint8_t* phases, int firstRow, int endRow,
                        PhaseRowsFn rows);

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
