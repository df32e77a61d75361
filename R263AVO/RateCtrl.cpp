#include "RateCtrl.h"

#include <algorithm>

namespace r263avo {

namespace {

constexpr double kUpperFactor = 1.15;
constexpr double kLowerFactor = 0.8695652173913044;  // 1 / 1.15
constexpr int32_t kMinQ = 5;
constexpr int32_t kMaxQ = 31;

}  // namespace

void RateControlReset(RateControlState& rc, const EncoderParams& params) {
    rc.mode = params.RateControl;
    rc.q = kRateControlInitialQ;
    rc.lastBits = 0;
    rc.bitrate = params.Bitrate;
    rc.endFrame = params.EndFrame;
    rc.frameStep = params.FrameRateActual;
    // The frame count is formed in 64 bits so that absurd ranges cannot overflow; the duration
    // itself is single precision, as the thresholds were tuned with it.
    const int64_t ticks =
        (static_cast<int64_t>(params.EndFrame) - params.StartFrame + params.FrameRateActual) *
        static_cast<int64_t>(params.FrameRateInput);
    rc.duration = static_cast<float>(ticks) / params.FrameRateTarget;
}

int32_t RateControlUpdate(RateControlState& rc, int32_t totalBits, int32_t frame, int32_t trSource,
                          int32_t* quant) {
    if (rc.mode == 1 && trSource > 0) {
        const int32_t step = std::max(1, static_cast<int32_t>(rc.q * 0.1));
        // A frame beyond the end of the range would leave no frames to spread the budget over.
        const int64_t remaining = std::max<int64_t>(1, static_cast<int64_t>(rc.endFrame) - frame + 1);
        const double target = (static_cast<double>(rc.bitrate) * static_cast<double>(rc.duration) -
                               static_cast<double>(totalBits)) /
                              static_cast<double>(remaining);
        const double used = static_cast<double>(totalBits) - static_cast<double>(rc.lastBits);
        if (used > kUpperFactor * target) {
            rc.q = std::min(kMaxQ, rc.q + step);
        } else if (used < target * kLowerFactor) {
            rc.q = std::max(kMinQ, rc.q - step);
        }
        *quant = rc.q;
    }
    rc.lastBits = totalBits;
    return rc.frameStep;
}

}  // namespace r263avo
