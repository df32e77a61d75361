// Deblocking filter (Annex J), encoder side: the shared filter (R263COM) run on the encoder's
// reconstruction, so that its reference pictures match those of a decoder that filters.
#pragma once

#include <cstdint>

#include "Picture.h"

namespace r263avo {

// Notes macroblock `mbIndex` as coded (COD = 0 or INTRA) or skipped, with its QUANT, in the
// picture's `mbCoded` and `mbQuant` (one entry per macroblock), then filters the edges of the
// reconstruction that the macroblock completes. `modifiedQuant` selects the Annex T chroma
// strength.
void DeblockMacroblock(const PictureView& recon, uint8_t* mbCoded, uint8_t* mbQuant, int mbIndex, bool coded,
                       int quant, bool modifiedQuant);

}  // namespace r263avo
