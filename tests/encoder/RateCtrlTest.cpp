// Picture-level rate control.
#include <gtest/gtest.h>

#include "EncTestUtil.h"
#include "R263AVO/RateCtrl.h"

using namespace r263avo;

namespace {

// A controller in mode 1 whose budget is `budget` bits over frames up to `endFrame`.
RateControlState Controller(int32_t q, int32_t budget, int32_t endFrame) {
    RateControlState rc;
    rc.mode = 1;
    rc.q = q;
    rc.duration = 1.0f;
    rc.bitrate = budget;
    rc.endFrame = endFrame;
    rc.frameStep = 1;
    return rc;
}

}  // namespace

TEST(RateControl, ResetDerivesDuration) {
    EncoderParams p;
    p.StartFrame = 0;
    p.EndFrame = 299;
    p.FrameRateActual = 1;
    p.FrameRateInput = 1;
    p.FrameRateTarget = 30.0f;
    p.RateControl = 1;
    p.Bitrate = 64000;
    RateControlState rc;
    RateControlReset(rc, p);
    EXPECT_EQ(rc.q, 13);
    EXPECT_EQ(rc.lastBits, 0);
    EXPECT_FLOAT_EQ(rc.duration, 10.0f);
    p.FrameRateActual = 2;
    p.FrameRateInput = 2;
    RateControlReset(rc, p);
    EXPECT_FLOAT_EQ(rc.duration, 301.0f * 2.0f / 30.0f);
}

TEST(RateControl, ThresholdSteps) {
    // remaining = 1 (frame = endFrame), L = 0: target = budget - T, used = T.
    struct Case {
        const char* what;
        int32_t q, target, used, expected;
    };
    const Case cases[] = {
        {"above 1.15 x target", 13, 20, 24, 14},
        {"exactly 1.15 x target", 13, 20, 23, 13},
        {"at the target", 13, 20, 20, 13},
        {"below target / 1.15", 30, 20, 17, 27},
        {"step 2 from 20", 20, 20, 30, 22},
        {"capped at 31", 30, 20, 30, 31},
        {"floor at 5", 6, 20, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RateControlState rc = Controller(c.q, c.target + c.used, 10);
        int32_t quant = 99;
        EXPECT_EQ(RateControlUpdate(rc, c.used, 10, 10, &quant), 1);
        EXPECT_EQ(rc.q, c.expected);
        EXPECT_EQ(quant, c.expected);
        EXPECT_EQ(rc.lastBits, c.used);
    }
}

TEST(RateControl, UsedCountsFromLastUpdate) {
    // remaining = 10, budget 100000: the first update leaves L = T.
    RateControlState rc = Controller(13, 100000, 10);
    int32_t quant = 0;
    RateControlUpdate(rc, 5000, 1, 1, &quant);  // used 5000 < target/1.15 -> 12
    EXPECT_EQ(rc.q, 12);
    // used = 15400 - 5000 = 10400; target = 84600 / 9 = 9400: 10400 < 10810, unchanged.
    RateControlUpdate(rc, 15400, 2, 2, &quant);
    EXPECT_EQ(rc.q, 12);
    EXPECT_EQ(rc.lastBits, 15400);
}

TEST(RateControl, FrameZeroMakesNoUpdateButMovesL) {
    RateControlState rc = Controller(13, 0, 10);
    int32_t quant = 8;
    EXPECT_EQ(RateControlUpdate(rc, 4000, 0, 0, &quant), 1);
    EXPECT_EQ(rc.q, 13);
    EXPECT_EQ(quant, 8);
    EXPECT_EQ(rc.lastBits, 4000);
}

TEST(RateControl, OtherModesKeepQuantiserAndReturnStep) {
    for (int mode : {0, 2, 3}) {
        RateControlState rc = Controller(13, 0, 10);
        rc.mode = mode;
        rc.frameStep = 3;
        int32_t quant = 8;
        EXPECT_EQ(RateControlUpdate(rc, 100000, 3, 3, &quant), 3);
        EXPECT_EQ(quant, 8);
        EXPECT_EQ(rc.lastBits, 100000);
    }
}

TEST(RateControl, RemainingStaysPositivePastEndFrame) {
    // Frame 20 is past the end (10): with remaining 1 the whole leftover budget is the target,
    // so a small picture lowers Q; a zero or negative divisor would have raised it.
    RateControlState rc = Controller(13, 100000, 10);
    int32_t quant = 0;
    RateControlUpdate(rc, 1000, 20, 20, &quant);
    EXPECT_EQ(rc.q, 12);
    rc = Controller(13, 100000, 10);
    RateControlUpdate(rc, 1000, 11, 11, &quant);
    EXPECT_EQ(rc.q, 12);
}

TEST(RateControl, ZeroBitrateClimbsTo31InTheStream) {
    EncoderParams p = enctest::BaseParams(1, 128, 96, 16);
    p.RateControl = 1;
    p.Bitrate = 0;
    const auto seq = enctest::Synthetic(128, 96, 16);
    const auto run = enctest::EncodeSequence(p, seq);
    ASSERT_EQ(run.pictures.size(), 16u);
    enctest::BitReader r(run.stream);
    std::vector<uint32_t> quants;
    size_t offset = 0;
    for (const auto& pic : run.pictures) {
        r.Seek(offset * 8);
        quants.push_back(enctest::ReadHeader(r).quant);
        offset += pic.bytes;
    }
    // I and first P at the parameters' 8, then the controller's 14, 15, ... 20, 22, ... 30, 31.
    const std::vector<uint32_t> expected = {8, 8, 14, 15, 16, 17, 18, 19, 20, 22, 24, 26, 28, 30, 31, 31};
    EXPECT_EQ(quants, expected);
}
