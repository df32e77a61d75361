// Deblocking filter (Annex J) on the decoder side, run inside the loop after each macroblock of
// an I or P picture is reconstructed.
#pragma once

#include <cstdint>

namespace r263iri {

// STRENGTH for QUANT 1..31 (entry 0 unused): H.263 Table J.2.
extern const uint8_t kDeblockStrength[32];

// The strength for a QUANT, clamped to 1..31.
int DeblockStrength(int quant);

// UpDownRamp(d, S) for d = -159..159.
struct DeblockRamp {
    static constexpr int kMaxD = 159;
    int16_t table[2 * kMaxD + 1];

    explicit DeblockRamp(int strength);
    int operator()(int d) const { return table[d + kMaxD]; }
};

// The filter across one horizontal edge, 8 columns wide; `below` is the first sample below it.
void FilterHorizontalEdge(uint8_t* below, int stride, const DeblockRamp& ramp);

// The filter across one vertical edge, 8 rows high; `right` is the first sample right of it.
void FilterVerticalEdge(uint8_t* right, int stride, const DeblockRamp& ramp);

// Filters after macroblock `mbNumber` of a picture store (planar Y, Cb, Cr at the coded size
// width x height, strides width and width / 2): the macroblock's horizontal edges, then (not in
// the top row) the vertical edges of the macroblock above, and in the bottom row its own vertical
// edges. An edge is filtered when one of the two blocks beside it is coded (`codedFlags`, 6 bytes
// per macroblock: Y0, Y1, Y2, Y3, Cb, Cr). The strength of an edge comes from the QUANT of the
// macroblock that holds it (`mbQuant`, one entry per macroblock): the current macroblock's for its
// own edges, the above macroblock's for the vertical edges filtered one row late. Chroma uses the
// chroma QUANT of Annex T when `modifiedQuant` is on. Does nothing for a macroblock outside the
// picture.
void DeblockMacroblock(uint8_t* picture, int width, int height, const uint8_t* codedFlags,
                       const uint8_t* mbQuant, int mbNumber, bool modifiedQuant);

}  // namespace r263iri
