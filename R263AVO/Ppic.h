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

// Codes pc.input as a P-picture against pc.reference / pc.referenceInterp; reconstructs into
// pc.recon and builds pc.reconInterp.
void CodePPicture(const PictureCoding& pc);

}  // namespace r263avo
