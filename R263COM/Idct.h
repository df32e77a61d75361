// 8x8 integer inverse DCT, the one transform of both the encoder and the decoder, so that
// both reconstruct every block identically.
//
// Arithmetic model (shared by every version): the row stage reads
// 16-bit coefficients and stores its outputs back into the 16-bit block (truncated to 16 bits, as
// an in-place transform does); the column stage reads those and stores its outputs truncated to
// 16 bits. The multiplication by 181 = 256/sqrt(2) is exact ((181 v + 128) >> 8 taken without
// overflow); all other intermediates fit in 32 bits for any 16-bit input.
#pragma once

#include <cstdint>

namespace r263com {

// Coefficients in (raster order), pixel values or differences out (not clipped). In place.
void IdctBlock(int16_t block[64]);

// The plain reference version; IdctBlock dispatches to a SIMD version when one is available.
void IdctBlockC(int16_t block[64]);

using IdctFunction = void (*)(int16_t block[64]);

// The version IdctBlock uses for the given cpuinfo SIMD flags (kSimdSse2, kSimdAvx2): with SIMD,
// the vector transform behind a shortcut for blocks with only a first row or first column.
IdctFunction SelectIdct(uint32_t simdFlags);

#if defined(TESSARO_X86)
// SIMD versions, bit-exact with IdctBlockC. Call only when the processor has the instruction set.
void IdctBlockSse2(int16_t block[64]);
void IdctBlockAvx2(int16_t block[64]);
#endif

}  // namespace r263com
