// Deblocking filter (Annex J) on the decoder side, run inside the loop after each macroblock of
// an I or P picture (and of a B picture that asks for it) is reconstructed.
//
// The filter itself is the encoder's (r263avo::DeblockMacroblock, the per-macroblock QUANT form),
// so that both reconstruct every picture identically; this module fits it to the decoder's
// picture stores.
#pragma once

#include <cstdint>

namespace r263iri {

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
