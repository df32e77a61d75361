// I-picture coder and the intra macroblock steps that the P- and B-picture coders share (plain
// intra coding and Annex I advanced intra coding).
#pragma once

#include "PictureCoding.h"

namespace r263avo {

// Codes pc.input as an I-picture: picture header, every macroblock as INTRA with the slice or
// GOB headers, the reconstruction into pc.recon (deblocked with Annex J) and its half-pel image
// into pc.reconInterp.
void CodeIPicture(const PictureCoding& pc);

// An intra macroblock between quantisation and writing.
struct IntraMacroblock {
    int cbp = 0;   // coded block pattern, 32 for block 0 ... 1 for block 5
    int mode = 0;  // Annex I prediction mode (0, 2, 3); 0 without Annex I
};

// Loads the macroblock at (x, y), column `column`, and quantises it: plainly into pc.blocks (CBP
// from the AC levels; levels limited to -127..127 without Annex T), or with Annex I into
// pc.blocks (levels) and pc.aicRecon (reconstructed coefficients; CBP from all 64 levels).
IntraMacroblock PrepareIntraMacroblock(const PictureCoding& pc, int x, int y, int column);

// Writes the block layer of a prepared intra macroblock: six INTRADC plus the coded blocks'
// TCOEF events, or with Annex I the coded blocks in the Annex I syntax. INTRA_MODE is the
// caller's, since its place in the macroblock header depends on the picture type.
void WriteIntraCoefficients(const PictureCoding& pc, const IntraMacroblock& mb);

// Finishes a written intra macroblock: its reconstruction into pc.recon at (x, y) when
// pc.reconstruct, and with Annex I its coefficients into the neighbour stores (always, since
// later intra macroblocks of the same picture predict from them).
void FinishIntraMacroblock(const PictureCoding& pc, int x, int y, int column);

// Plain intra quantisation of the macroblock loaded in pc.blocks (pixels); returns the coded
// block pattern (AC levels only).
int QuantizeIntraMacroblock(const PictureCoding& pc);

}  // namespace r263avo
