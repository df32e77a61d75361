// EncoderOpen's refusals: -1, nothing open, and a reason that names the setting at fault.
#include <gtest/gtest.h>

#include <string>

#include "EncTestUtil.h"

using namespace r263avo;

namespace {

TEST(OpenRefusal, TheReasonNamesTheSetting) {
    struct Case {
        void (*spoil)(EncoderParams&);
        const char* setting;
    } cases[] = {
        {[](EncoderParams& p) { p.SourceFormat = 9; }, "SourceFormat"},
        {[](EncoderParams& p) { p.Speed = 0; }, "Speed"},
        {[](EncoderParams& p) { p.FrameRateActual = 0; }, "FrameRateActual"},
        {[](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 2, p.FrameRateActual = 2; }, "BPictures"},
        {[](EncoderParams& p) { p.UseSliceMode = 1, p.MBlocksPerSlice = 0; }, "MBlocksPerSlice"},
        {[](EncoderParams& p) { p.RateControl = 1, p.FrameRateTarget = 0.0f; }, "FrameRateTarget"},
        {[](EncoderParams& p) { p.Width = 177; }, "Width"},
        {[](EncoderParams& p) { p.Width = 352; }, "SourceFormat"},
    };
    Encoder* e = EncoderCreate();
    EXPECT_STREQ(EncoderLastError(*e), "");
    for (const Case& c : cases) {
        EncoderParams p = enctest::BaseParams(2, 176, 144, 3);
        c.spoil(p);
        EXPECT_EQ(EncoderOpen(*e, p), -1) << c.setting;
        EXPECT_NE(std::string(EncoderLastError(*e)).find(c.setting), std::string::npos)
            << EncoderLastError(*e);
        uint32_t bytes = 1;
        EXPECT_EQ(EncodeFrame(*e, 0, 1, nullptr, nullptr, &bytes), -1);
    }
    // A successful open clears the reason.
    EXPECT_EQ(EncoderOpen(*e, enctest::BaseParams(2, 176, 144, 3)), 0);
    EXPECT_STREQ(EncoderLastError(*e), "");
    EncoderClose(*e);
    EncoderDestroy(e);
}

}  // namespace
