// 8x8 integer inverse DCT, bit-exact with the decoder's.
#pragma once

#include <cstdint>

namespace r263avo {

// Coefficients in (raster order), pixel values or differences out (not clipped). In place.
void IdctBlock(int16_t block[64]);

// The plain reference version; IdctBlock dispatches to a SIMD version when one is available.
void IdctBlockC(int16_t block[64]);

}  // namespace r263avo
