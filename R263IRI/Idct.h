// 8x8 integer inverse DCT and the sample clip of the reconstruction.
//
// The decoder uses the shared inverse transform (r263com::IdctBlock, with its SIMD versions
// chosen at run time), the encoder's too, so that both reconstruct every block identically. That transform has no
// signed overflow for any 16-bit coefficients, so damaged streams are safe as well.
#pragma once

#include <cstdint>

namespace r263iri {

// Coefficients in (raster order), sample values or differences out, not clipped. In place.
void IdctBlock(int16_t block[64]);

// The plain reference version; IdctBlock dispatches to a SIMD version when one is available.
void IdctBlockC(int16_t block[64]);

// Maps any integer to 0..255.
inline uint8_t ClipSample(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace r263iri
