// 8x8 block helpers of the encoder loop: moving samples between pictures, prediction buffers and
// the 16-bit coefficient blocks (64 values, row by row).
#pragma once

#include <cstdint>

namespace r263avo {

// block = src (values 0..255).
void LoadBlock8(const uint8_t* src, int stride, int16_t block[64]);

// block = cur - pred (values -255..255).
void SubtractBlock8(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                    int16_t block[64]);

// The four 8x8 luma blocks of a macroblock, blocks[b] = cur - pred over quadrant b (0 top left,
// 1 top right, 2 bottom left, 3 bottom right).
void SubtractBlock16(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                     int16_t blocks[4][64]);

// dst = PixelClip(block).
void WriteClippedBlock8(const int16_t block[64], uint8_t* dst, int dstStride);

// dst = PixelClip(pred + block); the block values are not clipped beforehand.
void AddClipBlock8(const uint8_t* pred, int predStride, const int16_t block[64], uint8_t* dst, int dstStride);

// dst = src, 8x8 samples.
void CopyBlock8(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride);

// The kernels above that have SIMD versions, as a table; the plain versions are the reference.
struct BlockKernels {
    void (*subtract8)(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                      int16_t block[64]);
    void (*addClip8)(const uint8_t* pred, int predStride, const int16_t block[64], uint8_t* dst,
                     int dstStride);
    void (*subtract16)(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                       int16_t blocks[4][64]);
};
const BlockKernels& BlockKernelsC();
// The best versions for the given cpuinfo SIMD flags.
BlockKernels SelectBlockKernels(uint32_t simdFlags);
// The same for this processor (cpuinfo::SimdFlags(), read on every call).
BlockKernels SelectBlockKernels();

// 8x8 chroma prediction from `ref` (pointing at the whole-sample position) with the half flags of
// the chroma vector: bilinear with rounding type 0, (a + b + 1) >> 1 or (a + b + c + d + 2) >> 2.
// Reads one column more with halfX and one row more with halfY.
void PredictChromaBlock8(const uint8_t* ref, int refStride, bool halfX, bool halfY, uint8_t* pred,
                         int predStride);

}  // namespace r263avo
