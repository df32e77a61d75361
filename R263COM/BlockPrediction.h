// The half-sample interpolation of one predicted block (motion compensation), shared by the
// encoder and the decoder, with its SIMD versions chosen at run time.
#pragma once

#include <cstdint>

namespace r263com {

// Predicts a size x size block (size 8 or 16) from `src` (the sample at the block's integer
// position, row stride `stride`; one more column and row are read when a half flag is set).
// Half flags hx, hy; rounding type r: no flag a; one flag (a + b + 1 - r) >> 1; both
// (a + b + c + d + 2 - r) >> 2.
void InterpolateBlock(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                      int dstStride);

// The plain reference version.
void InterpolateBlockC(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                       int dstStride);

using InterpolateBlockFunction = void (*)(const uint8_t* src, int stride, int hx, int hy, int rounding,
                                          int size, uint8_t* dst, int dstStride);

// The version InterpolateBlock uses for the given cpuinfo SIMD flags.
InterpolateBlockFunction SelectInterpolateBlock(uint32_t simdFlags);

// dst = clip(pred + residual) to 0..255 for an 8x8 block (the residual is not limited first): the
// reconstruction of a coded inter block.
void AddClipBlock8C(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                    int dstStride);

using AddClipBlockFunction = void (*)(const uint8_t* pred, int predStride, const int16_t residual[64],
                                      uint8_t* dst, int dstStride);

// The version for the given cpuinfo SIMD flags.
AddClipBlockFunction SelectAddClipBlock(uint32_t simdFlags);

#if defined(TESSARO_X86)
// Bit-exact with InterpolateBlockC and AddClipBlock8C. Call only when the processor has SSE2.
void InterpolateBlockSse2(const uint8_t* src, int stride, int hx, int hy, int rounding, int size,
                          uint8_t* dst, int dstStride);
void AddClipBlock8Sse2(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                       int dstStride);
#endif

}  // namespace r263com
