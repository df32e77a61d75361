#include "PictureCoding.h"

#include <algorithm>

#include "DeblockingFilter_Annex_J.h"
#include "Interpolation.h"
#include "Slice_Annex_K.h"
#include "Wavefront.h"

namespace r263avo {

void ResetMotionRecords(const PictureCoding& pc) {
    MbRecord unavailable;
    unavailable.hx = kMvUnavailable;
    unavailable.hy = kMvUnavailable;
    for (int c = 0; c < pc.mbPerRow; ++c) pc.aboveRecords[c] = unavailable;
    pc.aboveRecords[pc.mbPerRow] = MbRecord{};  // spare record right of the last column
    *pc.leftRecord = MbRecord{};
}

void MaybeWriteGobHeader(const PictureCoding& pc, int mbIndex, int* gobCounter) {
    if (!pc.gobHeaders || mbIndex % pc.mbPerGob != 0) return;
    if (*gobCounter != 0) {
        WriteGobHeader(*pc.writer, *gobCounter, pc.quant);
        // Neither vector nor intra coefficient prediction may reach across the GOB boundary.
        ResetPredictionState(pc);
    }
    ++*gobCounter;
}

void ResetPredictionState(const PictureCoding& pc) {
    ResetMotionRecords(pc);
    if (pc.advIntra) ResetAicStores(*pc.aic);
}

void BeginMacroblock(const PictureCoding& pc, int mbIndex, int* gobCounter) {
    if (mbIndex % pc.mbPerRow == 0) {
        *pc.leftRecord = MbRecord{};
        if (pc.advIntra) AicStartRow(*pc.aic);
    }
    if (pc.slices) {
        if (SliceStartsAt(mbIndex, pc.mbPerSlice)) {
            WriteSliceHeader(*pc.writer, mbIndex, pc.mbaBits, pc.quant);
            ResetPredictionState(pc);
        }
        return;
    }
    MaybeWriteGobHeader(pc, mbIndex, gobCounter);
}

void CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder) {
    if (pc.wavefront) {
        pc.wavefront->CodeMacroblocks(pc, coder);
        return;
    }
    MotionSearchInput search;
    if (coder.begin) coder.begin(pc, &search);
    ForEachMacroblock(pc, [&](int i, int c, int x, int y) { coder.code(pc, search, i, c, x, y); });
}

void DeblockAfterMacroblock(const PictureCoding& pc, int mbIndex, bool coded) {
    if (!pc.deblock) return;
    DeblockMacroblock(pc.recon, pc.mbCoded, pc.mbQuant, mbIndex, coded, pc.quant, pc.modifiedQuant);
}

}  // namespace r263avo
