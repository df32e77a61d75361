#include "PictureCoding.h"

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
        // Vector prediction must not reach across the GOB boundary.
        ResetMotionRecords(pc);
    }
    ++*gobCounter;
}

}  // namespace r263avo
