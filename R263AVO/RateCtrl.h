// Picture-level rate control: one quantiser decision after every coded picture.
#pragma once

#include <cstdint>

#include "R263AVO.h"

namespace r263avo {

struct RateControlState {
    int32_t mode = 0;       // 1 = picture-level control; anything else keeps the quantiser
    int32_t q = 13;         // the controller's own quantiser
    float duration = 0.0f;  // seconds covered by the frame range (single precision on purpose)
    int32_t lastBits = 0;   // writer's total bit count at the previous update
    int32_t bitrate = 0;
    int32_t endFrame = 0;
    int32_t frameStep = 1;  // FrameRateActual
};

constexpr int32_t kRateControlInitialQ = 13;

void RateControlReset(RateControlState& rc, const EncoderParams& params);

// Runs after every coded picture. `totalBits` is the writer's cumulative bit count, `frame` the
// frame number of the current EncodeFrame call and `trSource` the frame number of the picture
// just coded. In mode 1 (and only after a picture whose frame number is above 0) it may set
// *quant for the following pictures. Returns the frame step (FrameRateActual) in every mode.
int32_t RateControlUpdate(RateControlState& rc, int32_t totalBits, int32_t frame, int32_t trSource,
                          int32_t* quant);

}  // namespace r263avo
