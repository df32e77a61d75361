// P-picture coder: motion search per macroblock, INTER / INTRA / skipped macroblocks, motion
// vector prediction and reconstruction.
#pragma once

#include "MotionEst.h"
#include "PictureCoding.h"

namespace r263avo {

struct MotionVector {
    int x = 0, y = 0;  // half-pel units
};

// Median prediction of the vector of the macroblock in column c from the left record, the row
// above (aboveRow[c]) and the above-right record (aboveRow[c + 1]; the spare record for the last
// column). When the row above is unavailable the left vector is the predictor.
MotionVector PredictMotionVector(const MbRecord* aboveRow, const MbRecord& left, int c);

// Transform and inter quantisation of the prediction error in pc.blocks (luma with pc.quant,
// chroma with its chroma quantiser); returns the coded block pattern.
int QuantizeInterMacroblock(const PictureCoding& pc);

// Writes the two MVD components of `mv` against `predictor`.
void WriteMvd(BitWriter& bw, const MbRecord& mv, const MotionVector& predictor);

// Writes the coded blocks of an inter macroblock (levels in pc.blocks, prediction in
// pc.prediction) and, when pc.reconstruct, reconstructs all six blocks into pc.recon at (x, y).
void WriteInterBlocks(const PictureCoding& pc, int x, int y, int cbp);

// The motion search set up for pc.input against pc.referenceInterp with pc's motion records.
MotionSearchInput MakeMotionSearchInput(const PictureCoding& pc);

// Codes pc.input as a P-picture against pc.reference / pc.referenceInterp; reconstructs into
// pc.recon and builds pc.reconInterp.
void CodePPicture(const PictureCoding& pc);

}  // namespace r263avo
