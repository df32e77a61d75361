// P-picture coder: motion search per macroblock, INTER / INTRA / skipped macroblocks, motion
// vector prediction and reconstruction.
#pragma once

#include "EncodeCoefficients.h"
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

// Where an inter macroblock's prediction goes: into its place in pc.recon when the picture is
// reconstructed, else into pc.prediction.
PredictionPlaces InterPredictionPlaces(const PictureCoding& pc, int x, int y);

// Writes the coded blocks of an inter macroblock (levels in pc.blocks) and, when pc.reconstruct,
// completes its reconstruction in pc.recon at (x, y), where InterPredictionPlaces put the
// prediction: the coded blocks get their residual added, the others are the prediction already.
void WriteInterBlocks(const PictureCoding& pc, int x, int y, int cbp);

// The motion search set up for pc.input against pc.reference with pc's motion records.
MotionSearchInput MakeMotionSearchInput(const PictureCoding& pc);

// One macroblock of a P- or B-picture: its motion search, then codeIntra(mbIndex, column, x, y)
// when it chose INTRA, else codeInter(mbIndex, column, x, y, record) (and the macroblock marked as
// not intra for Annex I). The chosen vector, zero for an intra macroblock, becomes the
// prediction record of the neighbours.
template <typename CodeIntra, typename CodeInter>
void CodeMotionMacroblock(const PictureCoding& pc, const MotionSearchInput& search, int i, int c, int x,
                          int y, CodeIntra&& codeIntra, CodeInter&& codeInter) {
    const MotionSearchResult found = MotionSearch(search, x, y, c);
    MbRecord record = found.record;
    if (found.type == kMbIntra) {
        // An intra macroblock predicts as a zero vector; its whole-pixel vector stays as a
        // search candidate for the neighbours.
        record.hx = 0;
        record.hy = 0;
        codeIntra(i, c, x, y);
    } else {
        codeInter(i, c, x, y, record);
        if (pc.advIntra) AicMarkNotIntra(*pc.aic, c);
    }
    pc.aboveRecords[c] = record;
    *pc.leftRecord = record;
}

// The `begin` step of the P- and B-picture macroblock coders.
void BeginMotionSearch(const PictureCoding& pc, MotionSearchInput* search);

// Codes pc.input as a P-picture against pc.reference; reconstructs into pc.recon.
void CodePPicture(const PictureCoding& pc);

// How CodePPicture codes each macroblock (for coding rows of a P-picture ahead of its header).
MacroblockCoder PMacroblockCoder();

}  // namespace r263avo
