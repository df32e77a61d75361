// Half-pel interpolation of a reconstructed luma plane into an InterpolatedRef (Picture.h).
#pragma once

#include <cstdint>

namespace r263avo {

// Builds the (2W + 60) x (2H + 60) half-pel image of `luma` (W x H, stride W) into `out`, with
// rounding type 0. The margins are filled by edge replication only when fillMargins is set.
void InterpolatePicture(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins);

// Plain reference version (InterpolatePicture dispatches to SIMD when available).
void InterpolatePictureC(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins);

}  // namespace r263avo
