// Exact forward DCT (unquantised), used for Annex I intra blocks.
#pragma once

#include <cstdint>

namespace r263avo {

// Replaces the block (raster order) by its DCT coefficients, truncated toward zero.
void ForwardDctBlock(int16_t block[64]);

}  // namespace r263avo
