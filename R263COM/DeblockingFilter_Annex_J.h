// Deblocking filter (Annex J): the in-loop filter across the 8x8 block edges of a reconstructed
// I or P picture, run macroblock by macroblock right after each macroblock is reconstructed. The
// encoder and the decoder both filter with this one implementation, so that their reference
// pictures agree with each other and with any decoder that follows the standard's rule.
//
// Which edges are filtered, and how strongly, is decided by macroblock: the edge between block1
// (above or left of it) and block2 (below or right) is filtered when at least one of the two
// belongs to a coded macroblock (COD = 0 or INTRA; every macroblock of an I picture), with
// STRENGTH(QUANT) where QUANT is that of block2's macroblock when it is coded and that of block1's
// otherwise.
#pragma once

#include <cstdint>

namespace r263com {

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

// The prebuilt ramp of a strength 0..12.
const DeblockRamp& DeblockRampOf(int strength);

// Filters the 8 pixel columns that cross a horizontal edge; `below` points at the first pixel
// below the edge (the two rows above it and the two from it on take part).
void FilterAcrossRow(uint8_t* below, int stride, const DeblockRamp& ramp);

// Filters the 8 pixel rows that cross a vertical edge; `right` points at the first pixel right of
// the edge.
void FilterAcrossColumn(uint8_t* right, int stride, const DeblockRamp& ramp);

// A picture at the coded size: luma width x height (multiples of 16, stride width), chroma planes
// of width / 2 x height / 2 (stride width / 2).
struct DeblockPlanes {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int width = 0;
    int height = 0;
};

// Views a contiguous planar 4:2:0 buffer of width x height x 3/2 bytes.
DeblockPlanes DeblockPlanesOf(uint8_t* data, int width, int height);

// Filters the edges that become final once macroblock `mbNumber` is reconstructed: its
// horizontal edges (the top one with the macroblock above, the two inner luma ones), then (not in
// the top row) the vertical edges of the macroblock above, and in the bottom row its own vertical
// edges. Every horizontal edge is so filtered before the vertical edges that touch the same
// pixels, and picture borders never. `mbCoded` holds one byte per macroblock (nonzero: COD = 0 or
// INTRA), `mbQuant` the QUANT of every macroblock (only those of coded macroblocks are read).
// Chroma edges take the strength of the chroma QUANT of Annex T when `modifiedQuant` is on.
// Does nothing unless width and height are multiples of 16 and `mbNumber` is a macroblock of the
// picture.
void DeblockMacroblock(const DeblockPlanes& picture, const uint8_t* mbCoded, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant);

}  // namespace r263com
