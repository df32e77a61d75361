// Picture-type schedule, call results, quantiser per picture and the open-time checks.
#include <gtest/gtest.h>

#include <cstdint>

#include "EncTestUtil.h"
#include "R263AVO/EncoderState.h"

using namespace r263avo;
using enctest::BitReader;

namespace {

struct CallResult {
    int32_t result;
    uint32_t intra;
    uint32_t bytes;
    enctest::Header header;
};

CallResult Call(Encoder& e, int frame, bool intra, const std::vector<uint8_t>& pic) {
    CallResult c{};
    c.intra = 77;
    c.result = EncodeFrame(e, frame, intra ? 1 : 0, &c.intra, pic.data(), &c.bytes);
    if (c.bytes > 0) {
        BitReader r(EncoderGetStats(e).OutputBuffer, c.bytes);
        c.header = enctest::ReadHeader(r);
    }
    return c;
}

}  // namespace

TEST(Schedule, StepOneWithIntraRequests) {
    EncoderParams p = enctest::BaseParams(1, 128, 96, 40);
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    const auto seq = enctest::Synthetic(128, 96, 1);
    for (int f = 0; f < 34; ++f) {
        const bool intra = f == 0 || f == 30;
        const CallResult c = Call(*e, f, intra, seq);
        ASSERT_EQ(c.result, f);
        EXPECT_EQ(c.intra, intra ? 1u : 0u) << f;
        EXPECT_EQ(c.header.PictureType(), intra ? 0u : 1u) << f;
        EXPECT_EQ(c.header.tr, static_cast<uint32_t>(f));
    }
}

TEST(Schedule, FrameStepThree) {
    EncoderParams p = enctest::BaseParams(1, 128, 96, 12);
    p.FrameRateActual = 3;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    const auto seq = enctest::Synthetic(128, 96, 1);
    const CallResult first = Call(*e, 0, true, seq);
    EXPECT_EQ(first.result, 2);
    EXPECT_EQ(first.header.tr, 0u);
    const int expected[][2] = {{3, 5}, {6, 8}, {9, 11}};
    for (const auto& x : expected) {
        const CallResult c = Call(*e, x[0], false, seq);
        EXPECT_EQ(c.result, x[1]);
        EXPECT_EQ(c.intra, 0u);
        EXPECT_EQ(c.header.PictureType(), 1u);
        EXPECT_EQ(c.header.tr, static_cast<uint32_t>(x[0]));
    }
}

TEST(Schedule, UnplaceableCallIsRefused) {
    EncoderParams p = enctest::BaseParams(1, 128, 96, 12);
    p.FrameRateActual = 3;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    const auto seq = enctest::Synthetic(128, 96, 1);
    ASSERT_EQ(Call(*e, 0, true, seq).result, 2);
    const CallResult bad = Call(*e, 1, false, seq);  // not the next anchor (3)
    EXPECT_EQ(bad.result, -1);
    EXPECT_EQ(bad.bytes, 0u);
    EXPECT_EQ(bad.intra, 77u);  // untouched
    ReconstructedPicture rec;
    EXPECT_FALSE(EncoderLastReconstruction(*e, &rec));
    // The schedule is unchanged: frame 3 is still the next P-picture.
    const CallResult next = Call(*e, 3, false, seq);
    EXPECT_EQ(next.result, 5);
    EXPECT_EQ(next.header.PictureType(), 1u);
    // An intra request places any frame.
    const CallResult intra = Call(*e, 7, true, seq);
    EXPECT_EQ(intra.result, 9);
    EXPECT_EQ(intra.intra, 1u);
}

TEST(Schedule, CallsOnClosedEncoderAreRefused) {
    enctest::EncoderPtr e(EncoderCreate());
    std::vector<uint8_t> pic(enctest::FrameBytes(128, 96));
    uint32_t bytes = 5;
    EXPECT_EQ(EncodeFrame(*e, 0, 1, nullptr, pic.data(), &bytes), -1);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(EncoderFlushFrame(*e, &bytes), -1);
    ASSERT_EQ(EncoderOpen(*e, enctest::BaseParams(1, 128, 96, 2)), 0);
    EXPECT_EQ(EncodeFrame(*e, 0, 1, nullptr, nullptr, &bytes), -1);
    EXPECT_EQ(EncoderFlushFrame(*e, &bytes), 0);  // nothing held without B-pictures
    EXPECT_EQ(bytes, 0u);
    // A frame number whose result would not fit the counter is refused, not wrapped.
    EXPECT_EQ(EncodeFrame(*e, INT32_MAX, 1, nullptr, pic.data(), &bytes), -1);
    EXPECT_EQ(EncodeFrame(*e, INT32_MAX - 1, 1, nullptr, pic.data(), &bytes), INT32_MAX - 1);
}

TEST(Schedule, QuantiserPerPictureAndClamps) {
    EncoderParams p = enctest::BaseParams(1, 128, 96, 4);
    p.PQuantizer = 2;
    p.IQuantizer = 40;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    const auto seq = enctest::Synthetic(128, 96, 1);
    EXPECT_EQ(Call(*e, 0, true, seq).header.quant, 31u);
    EXPECT_EQ(Call(*e, 1, false, seq).header.quant, 5u);
    EXPECT_EQ(Call(*e, 2, true, seq).header.quant, 31u);
    EXPECT_EQ(Call(*e, 3, false, seq).header.quant, 5u);  // constant quantiser after an I-picture

    // With rate control the P-pictures after an I-picture continue from the controller.
    p.RateControl = 1;
    p.Bitrate = 0;  // every update raises Q
    e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    EXPECT_EQ(Call(*e, 0, true, seq).header.quant, 31u);
    EXPECT_EQ(Call(*e, 1, false, seq).header.quant, 5u);  // first P: PQuantizer; then Q 13 -> 14
    EXPECT_EQ(Call(*e, 2, true, seq).header.quant, 31u);  // I: IQuantizer; Q 14 -> 15
    EXPECT_EQ(Call(*e, 3, false, seq).header.quant, 15u);
}

TEST(Schedule, ClassifyWithBPictures) {
    // The schedule itself already knows B positions (their coder comes later).
    Schedule s;
    s.startFrame = 0;
    s.step = 1;
    s.bPictures = 2;
    EXPECT_EQ(ClassifyCall(s, 0, true), Position::kI);
    EXPECT_EQ(s.nextAnchor, 3);
    EXPECT_EQ(ClassifyCall(s, 1, false), Position::kB);
    EXPECT_EQ(ClassifyCall(s, 2, false), Position::kB);
    EXPECT_EQ(ClassifyCall(s, 3, false), Position::kP);
    EXPECT_EQ(ClassifyCall(s, 4, true), Position::kB);  // intra request waits for the anchor
    EXPECT_EQ(ClassifyCall(s, 5, false), Position::kB);
    EXPECT_EQ(ClassifyCall(s, 6, false), Position::kI);
    EXPECT_EQ(ClassifyCall(s, 9, false), Position::kP);
}

TEST(EncoderOpen, Refusals) {
    struct Case {
        const char* what;
        void (*change)(EncoderParams&);
    };
    const Case cases[] = {
        {"format 0", [](EncoderParams& p) { p.SourceFormat = 0; }},
        {"format 7", [](EncoderParams& p) { p.SourceFormat = 7; }},
        {"speed 0", [](EncoderParams& p) { p.Speed = 0; }},
        {"speed 6", [](EncoderParams& p) { p.Speed = 6; }},
        {"frame step 0", [](EncoderParams& p) { p.FrameRateActual = 0; }},
        {"slices without size", [](EncoderParams& p) { p.UseSliceMode = 1, p.MBlocksPerSlice = 0; }},
        {"B-pictures with frame step 2",
         [](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 2, p.FrameRateActual = 2; }},
        {"clamped B-pictures with frame step 3",
         [](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 9, p.FrameRateActual = 3; }},
        {"custom width 2", [](EncoderParams& p) { p.SourceFormat = 6, p.Width = 2; }},
        {"custom odd", [](EncoderParams& p) { p.SourceFormat = 6, p.Width = 177; }},
        {"custom too wide", [](EncoderParams& p) { p.SourceFormat = 6, p.Width = 2050; }},
        {"custom too high", [](EncoderParams& p) { p.SourceFormat = 6, p.Height = 1154; }},
        {"QCIF larger input", [](EncoderParams& p) { p.Width = 180; }},
        {"rate control without clock", [](EncoderParams& p) { p.RateControl = 1, p.FrameRateTarget = 0.0f; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncoderParams p = enctest::BaseParams(2, 176, 144, 10);
        c.change(p);
        enctest::EncoderPtr e(EncoderCreate());
        EXPECT_EQ(EncoderOpen(*e, p), -1);
        std::vector<uint8_t> pic(enctest::FrameBytes(176, 144));
        EXPECT_EQ(EncodeFrame(*e, 0, 1, nullptr, pic.data(), nullptr), -1);
        EncoderClose(*e);  // harmless after a refused open
    }
    // The limits themselves are accepted.
    EncoderParams p = enctest::BaseParams(6, 2048, 1152, 1);
    p.Speed = 5;
    enctest::EncoderPtr e(EncoderCreate());
    EXPECT_EQ(EncoderOpen(*e, p), 0);
    p = enctest::BaseParams(6, 4, 4, 1);
    EXPECT_EQ(EncoderOpen(*e, p), 0);
    // A frame step is fine when no B-picture is configured, whatever BPictures says.
    p = enctest::BaseParams(2, 176, 144, 10);
    p.BPictures = 2;
    p.FrameRateActual = 2;
    EXPECT_EQ(EncoderOpen(*e, p), 0);
    p.UseTrueBPictures = 1;
    p.BPictures = 0;
    EXPECT_EQ(EncoderOpen(*e, p), 0);
}

TEST(EncoderOpen, ReopenAndFacade) {
    EncoderParams& g = GlobalEncoderParams();
    g = enctest::BaseParams(1, 128, 96, 3);
    g.ComputeSnr = 0;
    ASSERT_EQ(EncoderOpen(), 0);
    ASSERT_EQ(EncoderOpen(), 0);  // opening again replaces the previous run
    const auto seq = enctest::Synthetic(128, 96, 2);
    uint32_t intra = 0, bytes = 0;
    EXPECT_EQ(EncodeFrame(0, 1, &intra, seq.data(), &bytes), 0);
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(GlobalEncoderStats().ByteCount, bytes);
    EXPECT_EQ(GlobalEncoderStats().SnrY, 0.0);
    g.ComputeSnr = 1;  // read on every call
    EXPECT_EQ(EncodeFrame(1, 0, &intra, seq.data() + enctest::FrameBytes(128, 96), &bytes), 1);
    EXPECT_GT(GlobalEncoderStats().SnrY, 20.0);
    ReconstructedPicture rec;
    EXPECT_TRUE(EncoderLastReconstruction(&rec));
    EXPECT_EQ(rec.frame, 1);
    EXPECT_EQ(rec.type, kPictureP);
    EXPECT_EQ(EncoderFlushFrame(&bytes), 0);
    EncoderClose();
    EXPECT_FALSE(EncoderLastReconstruction(&rec));
    EncoderClose();
}
