#include "Bpic_Annex_O.h"

#include "EncodeCoefficients.h"
#include "Ipic.h"
#include "OutPutCoefficients.h"
#include "Ppic.h"

namespace r263avo {

namespace {

// H.263 Table O.4, the forward and intra rows.
constexpr VlcCode kBMbTypeCodes[] = {Bits("100"), Bits("101"), Bits("0000 01")};
// Annex O CBPC codes by the value of the two chroma bits.
constexpr VlcCode kBCbpcCodes[4] = {Bits("0"), Bits("10"), Bits("111"), Bits("110")};

void CodeIntra(const PictureCoding& pc, int i, int c, int x, int y) {
    BitWriter& bw = *pc.writer;
    const IntraMacroblock mb = PrepareIntraMacroblock(pc, x, y, c);
    RecordDecision(pc, i, kDecisionIntra, mb.cbp);
    bw.PutBits(1, 0);  // COD: coded
    WriteBMbType(bw, kBIntra);
    if (pc.advIntra) WriteIntraMode(bw, mb.mode);
    WriteBCbpc(bw, mb.cbp & 3);
    WriteCbpy(bw, mb.cbp >> 2);
    WriteIntraCoefficients(pc, mb);
    FinishIntraMacroblock(pc, x, y, c);
}

void CodeForward(const PictureCoding& pc, int i, int c, int x, int y, const MbRecord& mv) {
    BitWriter& bw = *pc.writer;
    FormInterPrediction(*pc.kernels, pc.input, pc.reference, x, y, mv.hx, mv.hy, InterPredictionPlaces(pc, x, y),
                        pc.blocks);
    const int cbp = QuantizeInterMacroblock(pc);
    RecordDecision(pc, i, kDecisionForward, cbp, mv.hx, mv.hy);
    const MotionVector predictor = PredictMotionVector(pc.aboveRecords, *pc.leftRecord, c);
    bw.PutBits(1, 0);  // COD: B-pictures have no skipped macroblocks
    if (cbp == 0 && mv.hx == 0 && mv.hy == 0) {
        WriteBMbType(bw, kBForwardNoCoefficients);
        WriteMvd(bw, mv, predictor);
        // A reconstructed picture holds the prediction already.
        return;
    }
    WriteBMbType(bw, kBForward);
    WriteBCbpc(bw, cbp & 3);
    WriteCbpy(bw, (cbp >> 2) ^ 15);
    WriteMvd(bw, mv, predictor);
    WriteInterBlocks(pc, x, y, cbp);
}

}  // namespace

void WriteBMbType(BitWriter& bw, BMbTypeCode type) {
    PutVlc(bw, kBMbTypeCodes[type]);
}

void WriteBCbpc(BitWriter& bw, int cbpc) {
    PutVlc(bw, kBCbpcCodes[cbpc & 3]);
}

namespace {

void CodeBMacroblock(const PictureCoding& pc, const MotionSearchInput& search, int mbIndex, int column,
                     int mbX, int mbY) {
    CodeMotionMacroblock(
        pc, search, mbIndex, column, mbX, mbY, [&](int i, int c, int x, int y) { CodeIntra(pc, i, c, x, y); },
        [&](int i, int c, int x, int y, const MbRecord& record) { CodeForward(pc, i, c, x, y, record); });
}

}  // namespace

void CodeBPicture(const PictureCoding& pc) {
    ResetPredictionState(pc);
    WritePictureHeader(*pc.writer, *pc.header, pc.pictureType, pc.tr, pc.quant);
    CodeMacroblocks(pc, MacroblockCoder{BeginMotionSearch, CodeBMacroblock});
}

}  // namespace r263avo
