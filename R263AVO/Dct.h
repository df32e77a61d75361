// Exact forward DCT (unquantised), used for Annex I intra blocks.
#pragma once

#include <cstdint>

namespace r263avo {

// Replaces the block (raster order) by its DCT coefficients, truncated toward zero.
void ForwardDctBlock(int16_t block[64]);

// The plain reference version; ForwardDctBlock dispatches to a SIMD version when one is available.
void ForwardDctBlockC(int16_t block[64]);

using ForwardDctFunction = void (*)(int16_t block[64]);

// The version ForwardDctBlock uses for the given cpuinfo SIMD flags.
ForwardDctFunction SelectForwardDct(uint32_t simdFlags);

#if defined(TESSARO_X86)
// SIMD versions, bit-exact with ForwardDctBlockC for every input (blocks with a sample outside
// -255..255 are handed to the plain version). Call only when the processor has the instruction set.
void ForwardDctBlockSse2(int16_t block[64]);
void ForwardDctBlockAvx2(int16_t block[64]);
#endif

}  // namespace r263avo
