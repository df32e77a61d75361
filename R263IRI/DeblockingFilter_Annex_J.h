// Deblocking filter (Annex J) on the decoder side, run inside the loop after each macroblock of
// an I or P picture (and of a B picture that asks for it) is reconstructed.
//
// The filter itself is the shared one (R263COM/DeblockingFilter_Annex_J), the same that the
// encoder runs, so that both reconstruct every picture identically; this module fits it to the
// decoder's picture stores.
#pragma once

#include <cstdint>

namespace r263iri {

// Filters after macroblock `mbNumber` of a picture store (planar Y, Cb, Cr at the coded size
// width x height, strides width and width / 2) the edges that it completes. An edge is filtered
// when one of the two macroblocks beside it is coded (`mbCoded`, one byte per macroblock: COD = 0
// or INTRA), with the strength of the QUANT (`mbQuant`) of the macroblock below or right of it
// when that one is coded, else of the one above or left. Chroma uses the chroma QUANT of Annex T
// when `modifiedQuant` is on. Does nothing for a macroblock outside the picture.
void DeblockMacroblock(uint8_t* picture, int width, int height, const uint8_t* mbCoded, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant);

}  // namespace r263iri
