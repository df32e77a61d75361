// Deblocking filter (Annex J): the in-loop filter across 8x8 block edges of the reconstruction,
// run macroblock by macroblock right after each macroblock is reconstructed. The decoder filters
// with this same implementation (R263IRI/DeblockingFilter_Annex_J), so that both reconstruct
// alike.
#pragma once

#include <cstdint>

#include "Picture.h"

namespace r263avo {

// STRENGTH by QUANT (H.263 Table J.2); entry 0 is unused.
extern const uint8_t DeblockStrengthTable[32];

// The filter strength for a quantiser (clamped to 1..31).
int DeblockStrength(int quant);

// UpDownRamp(d, S) of the standard for d = -159..159, the whole range of (A - 4B + 4C - D) / 8.
struct DeblockRamp {
    static constexpr int kMaxD = 159;
    int16_t table[2 * kMaxD + 1];

    explicit DeblockRamp(int strength);
    int operator()(int d) const { return table[d + kMaxD]; }
};

// Filters the 8 pixel columns that cross a horizontal edge; `below` points at the first pixel
// below the edge (the two rows above it and the two from it on take part).
void FilterAcrossRow(uint8_t* below, int stride, const DeblockRamp& ramp);

// Filters the 8 pixel rows that cross a vertical edge; `right` points at the first pixel right of
// the edge.
void FilterAcrossColumn(uint8_t* right, int stride, const DeblockRamp& ramp);

// Filters the edges that become final once macroblock `mbNumber` (at pixel x, y) is
// reconstructed: its horizontal edges, then the vertical edges of the macroblock above, and in
// the last macroblock row its own vertical edges. An edge is filtered only when one of the two
// blocks beside it has its flag set in `codedBlockFlags` (6 bytes per macroblock: Y0, Y1, Y2, Y3,
// Cb, Cr). Luma uses STRENGTH(qp); chroma the same, or STRENGTH of the chroma quantiser when
// `modifiedQuant` (Annex T) is on. Picture borders are never filtered. Does nothing when (x, y)
// is not a macroblock position of the picture or `mbNumber` is not the macroblock there.
void DeblockMacroblock(const PictureView& picture, const uint8_t* codedBlockFlags, int mbNumber, int x, int y,
                       int qp, bool modifiedQuant);

// The same with a QUANT per macroblock (`mbQuant`, one entry per macroblock), as a decoder sees
// it: an edge takes its strength from the QUANT of the macroblock that holds it, the current
// macroblock's for its own edges and the above macroblock's for the vertical edges filtered one
// row late. The macroblock's position follows from `mbNumber`. Does nothing unless the picture's
// width and height are multiples of 16 and `mbNumber` is one of its macroblocks.
void DeblockMacroblock(const PictureView& picture, const uint8_t* codedBlockFlags, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant);

}  // namespace r263avo
