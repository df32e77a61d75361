// Deblocking filter (Annex J), decoder side: the shared filter on the decoder's picture stores.
#include "DeblockingFilter_Annex_J.h"

#include "R263COM/DeblockingFilter_Annex_J.h"

namespace r263iri {

void DeblockMacroblock(uint8_t* picture, int width, int height, const uint8_t* mbCoded, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant) {
    if (!picture) return;
    r263com::DeblockMacroblock(r263com::DeblockPlanesOf(picture, width, height), mbCoded, mbQuant, mbNumber,
                               modifiedQuant);
}

}  // namespace r263iri
