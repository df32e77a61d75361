// PSNR measurement of the reconstruction against the caller's picture.
#include <gtest/gtest.h>

#include <cmath>

#include "EncTestUtil.h"
#include "R263AVO/Snr.h"
#include "TestSupport.h"

using namespace r263avo;

TEST(Snr, KnownValues) {
    const int w = 176, h = 144;
    std::vector<uint8_t> rec(enctest::FrameBytes(w, h));
    for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 7 % 200 + 20);
    const ConstPictureView view = MakePictureView(rec.data(), w, h);

    std::vector<uint8_t> input = rec;
    SnrValues s = ComputeSnr(view, input.data(), w, h);
    EXPECT_EQ(s.y, 1000.0);
    EXPECT_EQ(s.u, 1000.0);
    EXPECT_EQ(s.v, 1000.0);

    for (int i = 0; i < w * h; ++i) input[i] = static_cast<uint8_t>(rec[i] + ((i & 1) ? 1 : -1));
    s = ComputeSnr(view, input.data(), w, h);
    EXPECT_NEAR(s.y, 48.13, 0.005);
    EXPECT_DOUBLE_EQ(s.y, 10.0 * std::log10(65025.0));
    EXPECT_EQ(s.u, 1000.0);

    input = rec;
    input[w * h + 100] = static_cast<uint8_t>(rec[w * h + 100] + 16);
    s = ComputeSnr(view, input.data(), w, h);
    EXPECT_EQ(s.y, 1000.0);
    EXPECT_NEAR(s.u, 62.07, 0.005);
    EXPECT_EQ(s.v, 1000.0);
}

// A custom 180x100 input is coded as 192x112: the measurement covers the input size only and
// reads exactly the caller's bytes (the vector is sized exactly, so ASan catches any overread).
TEST(Snr, CustomSizeReadsOnlyTheInput) {
    const int w = 180, h = 100, cw = 192, ch = 112;
    std::vector<uint8_t> rec(enctest::FrameBytes(cw, ch), 0);  // padding stays 0
    std::vector<uint8_t> input(enctest::FrameBytes(w, h), 100);
    const PictureView view = MakePictureView(rec.data(), cw, ch);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) view.y[j * cw + i] = 100;
    for (int j = 0; j < h / 2; ++j)
        for (int i = 0; i < w / 2; ++i) view.u[j * cw / 2 + i] = view.v[j * cw / 2 + i] = 100;
    view.v[(h / 2 - 1) * cw / 2 + w / 2 - 1] = 104;  // last visible V sample off by 4
    const SnrValues s = ComputeSnr(view, input.data(), w, h);
    EXPECT_EQ(s.y, 1000.0);
    EXPECT_EQ(s.u, 1000.0);
    EXPECT_NEAR(s.v, 10.0 * std::log10(65025.0 / (16.0 / (90 * 50))), 1e-9);
}

TEST(Snr, EncoderReportsPerCall) {
    EncoderParams p = enctest::BaseParams(6, 180, 100, 2);
    p.ComputeSnr = 1;
    const auto seq = enctest::Synthetic(180, 100, 2);
    const auto run = enctest::EncodeSequence(p, seq, true);
    ASSERT_EQ(run.pictures.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        const auto& pic = run.pictures[k];
        const uint8_t* src = seq.data() + k * enctest::FrameBytes(180, 100);
        EXPECT_NEAR(pic.snrY, testsupport::PlanePsnr(pic.recon.data(), src, 180 * 100), 1e-9);
        EXPECT_GT(pic.snrY, 25.0);
        EXPECT_LT(pic.snrY, 60.0);
    }
}
