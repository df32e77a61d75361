// Deblocking filter (Annex J), decoder side: the encoder's filter on the decoder's picture stores.
#include "DeblockingFilter_Annex_J.h"

#include "../R263AVO/DeblockingFilter_Annex_J.h"

namespace r263iri {

void DeblockMacroblock(uint8_t* picture, int width, int height, const uint8_t* codedFlags,
                       const uint8_t* mbQuant, int mbNumber, bool modifiedQuant) {
    if (!picture || width < 16 || height < 16 || width % 16 || height % 16) return;
    r263avo::DeblockMacroblock(r263avo::MakePictureView(picture, width, height), codedFlags, mbQuant,
                               mbNumber, modifiedQuant);
}

}  // namespace r263iri
