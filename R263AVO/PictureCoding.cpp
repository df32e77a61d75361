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

namespace {

// Asks for the input samples of the macroblock two ahead. The job may serve the input in place
// from a mapped file, and its lines then come from memory, not from the caches that copying the
// frame in would have left them in. Asked for at every macroblock, although a line holds four
// macroblocks of luma and eight of chroma: asking only once per line, when it is first needed,
// gained about half as much (4CIF, one thread). Always inlined: a call to a function that holds
// only prefetches is taken for a call without effect and dropped. The threaded coder asks for the
// next macroblock's lines itself.
inline __attribute__((always_inline)) void PrefetchInputAhead(const PictureCoding& pc, int x, int y) {
    const int w = pc.input.width, cw = w / 2;
    int ax = x + 32, ay = y;
    if (ax >= w) {
        ax -= w;
        ay += 16;
    }
    if (ay >= pc.input.height) return;
    const uint8_t* luma = pc.input.y + static_cast<size_t>(ay) * w + ax;
    for (int k = 0; k < 16; ++k) __builtin_prefetch(luma + static_cast<size_t>(k) * w);
    const size_t at = static_cast<size_t>(ay / 2) * cw + ax / 2;
    for (int k = 0; k < 8; ++k) {
        __builtin_prefetch(pc.input.u + at + static_cast<size_t>(k) * cw);
        __builtin_prefetch(pc.input.v + at + static_cast<size_t>(k) * cw);
    }
}

}  // namespace

void CodeMacroblocks(const PictureCoding& pc, const MacroblockCoder& coder) {
    if (pc.wavefront) {
        pc.wavefront->CodeMacroblocks(pc, coder);
        return;
    }
    MotionSearchInput search;
    if (coder.begin) coder.begin(pc, &search);
    ForEachMacroblock(pc, [&](int i, int c, int x, int y) {
        PrefetchInputAhead(pc, x, y);
        coder.code(pc, search, i, c, x, y);
    });
}

void DeblockAfterMacroblock(const PictureCoding& pc, int mbIndex, bool coded) {
    if (!pc.deblock) return;
    DeblockMacroblock(pc.recon, pc.mbCoded, pc.mbQuant, mbIndex, coded, pc.quant, pc.modifiedQuant);
}

}  // namespace r263avo
