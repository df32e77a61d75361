// I-picture coder (plain intra coding; Annex I slots in beside it).
#pragma once

#include "PictureCoding.h"

namespace r263avo {

// Codes pc.input as an I-picture: picture header, every macroblock as INTRA with the GOB headers,
// the reconstruction into pc.recon and its half-pel image into pc.reconInterp.
void CodeIPicture(const PictureCoding& pc);

// Codes the intra macroblock loaded in pc.blocks (pixels) with the picture quantiser: transform,
// quantisation, returns the coded block pattern (AC levels only). The blocks hold the levels
// afterwards, limited to -127..127 unless Annex T is on.
int QuantizeIntraMacroblock(const PictureCoding& pc);

// Writes the six blocks of an intra macroblock (INTRADC and TCOEF events).
void WriteIntraBlocks(const PictureCoding& pc);

// Inverse-quantises and transforms the six intra blocks and writes them into pc.recon at (x, y).
void ReconstructIntraMacroblock(const PictureCoding& pc, int x, int y);

}  // namespace r263avo
