// The encoder's streams decoded by an independent H.263 decoder (the system's ffmpeg): every
// stream must decode without error into one picture per coded picture, each matching the
// encoder's own reconstruction, and the quality against the source must agree with the
// encoder's PSNR figures.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>

#include "../encoder/EncTestUtil.h"
#include "TestSupport.h"

using namespace r263avo;

namespace {

struct StreamCase {
    const char* name;
    int format, width, height, frames;
    void (*tune)(EncoderParams&);  // may be null
    int content = 0;               // 0 synthetic, 1 noise and checkerboard
};

// Test names print the case's name instead of its bytes.
void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<uint8_t> Content(const StreamCase& c) {
    if (c.content == 0) return enctest::Synthetic(c.width, c.height, c.frames, 3);
    // Frame 0 black; frame 1 the top-left 8x8 block of every macroblock white, so that the
    // inter residual of that block is a flat +254 (DC level 203 at quantiser 5: an extended
    // escape with Annex T, the limit 127 without) while the macroblock stays INTER; later frames
    // noise.
    std::mt19937 rng(11);
    const size_t fb = enctest::FrameBytes(c.width, c.height);
    const size_t luma = static_cast<size_t>(c.width) * c.height;
    std::vector<uint8_t> seq(fb * c.frames, 128);
    for (int f = 0; f < c.frames; ++f) {
        uint8_t* y = seq.data() + f * fb;
        for (size_t i = 0; i < luma; ++i) {
            const size_t col = i % c.width, row = i / c.width;
            if (f == 0)
                y[i] = 0;
            else if (f == 1)
                y[i] = (col % 16 < 8 && row % 16 < 8) ? 255 : 0;
            else
                y[i] = static_cast<uint8_t>(rng());
        }
    }
    return seq;
}

// Encodes `source` (frames StartFrame..EndFrame of params), decodes the stream with ffmpeg and
// checks it against the reconstructions and the source.
void CheckWithFfmpeg(const std::string& name, EncoderParams p, const std::vector<uint8_t>& source) {
    p.ComputeSnr = 1;
    const enctest::EncodeRun run = enctest::EncodeSequence(p, source, true);
    ASSERT_FALSE(run.pictures.empty());

    const std::string dir = testsupport::MakeTempDir(std::string("encinterop-") + name);
    const std::string stream = dir + "/s.263", decoded = dir + "/out.yuv";
    ASSERT_TRUE(testsupport::WriteFile(stream, run.stream));
    const std::string cmd = "ffmpeg -v error -threads 1 -i '" + stream + "' -f rawvideo -pix_fmt yuv420p '" +
                            decoded + "' </dev/null 2>&1";
    std::string log;
    ASSERT_EQ(testsupport::RunCommand(cmd, &log), 0) << log;
    EXPECT_EQ(log, "") << "ffmpeg reported problems";

    const std::vector<uint8_t> out = testsupport::ReadFile(decoded);
    const size_t fb = enctest::FrameBytes(p.Width, p.Height);
    const size_t luma = static_cast<size_t>(p.Width) * p.Height;
    ASSERT_EQ(out.size(), fb * run.pictures.size()) << "one decoded picture per coded picture";

    double encoderMean = 0.0, decoderMean = 0.0;
    for (size_t k = 0; k < run.pictures.size(); ++k) {
        const enctest::CodedPicture& pic = run.pictures[k];
        const uint8_t* dec = out.data() + k * fb;
        const double vsRecon = testsupport::PlanePsnr(dec, pic.recon.data(), luma);
        EXPECT_GE(vsRecon, 40.0) << "picture " << k << " (frame " << pic.frame << ")";
        const uint8_t* src = source.data() + static_cast<size_t>(pic.frame) * fb;
        decoderMean += testsupport::PlanePsnr(dec, src, luma);
        encoderMean += pic.snrY;
    }
    encoderMean /= run.pictures.size();
    decoderMean /= run.pictures.size();
    EXPECT_NEAR(decoderMean, encoderMean, 0.2);
}

const StreamCase kCases[] = {
    {"sqcif_default", 1, 128, 96, 4, nullptr},
    {"qcif_gob_mq_speed5_sw0", 2, 176, 144, 5,
     [](EncoderParams& p) { p.GOBMode = 1, p.UseModifiedQuant = 1, p.Speed = 5, p.SearchWindow = 0; }},
    {"cif_gob_rc_step3", 3, 352, 288, 7,
     [](EncoderParams& p) { p.GOBMode = 1, p.RateControl = 1, p.Bitrate = 200000, p.FrameRateActual = 3; }},
    {"4cif_gob_mq", 4, 704, 576, 2,
     [](EncoderParams& p) { p.GOBMode = 1, p.UseModifiedQuant = 1, p.Speed = 3; }},
    {"16cif_gob_speed5", 5, 1408, 1152, 2,
     [](EncoderParams& p) { p.GOBMode = 1, p.Speed = 5, p.SearchWindow = 7; }},
    {"custom180x100_rc_gob", 6, 180, 100, 6,
     [](EncoderParams& p) {
         p.GOBMode = 1, p.RateControl = 1, p.Bitrate = 30000, p.FrameRateTarget = 30.0f;
     }},
    {"custom320x240_iperiod10_mq", 6, 320, 240, 12,
     [](EncoderParams& p) { p.IFramePeriod = 10, p.UseModifiedQuant = 1, p.PQuantizer = 12; }},
    {"custom176x392_gob", 6, 176, 392, 2, [](EncoderParams& p) { p.GOBMode = 1; }},
    {"cif_large_levels", 3, 352, 288, 3, [](EncoderParams& p) { p.PQuantizer = p.IQuantizer = 5; }, 1},
    {"cif_large_levels_mq", 3, 352, 288, 3,
     [](EncoderParams& p) { p.PQuantizer = p.IQuantizer = 5, p.UseModifiedQuant = 1; }, 1},
};

class FfmpegInterop : public testing::TestWithParam<StreamCase> {
  protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
    }
};

TEST_P(FfmpegInterop, DecodesLikeTheEncoder) {
    const StreamCase& c = GetParam();
    EncoderParams p = enctest::BaseParams(c.format, c.width, c.height, c.frames);
    if (c.tune) c.tune(p);
    CheckWithFfmpeg(c.name, p, Content(c));
}

INSTANTIATE_TEST_SUITE_P(Streams, FfmpegInterop, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StreamCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(FfmpegInteropShared, Foreman) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
    const std::string path = testsupport::SharedDataFile("foreman.qcif");
    if (path.empty()) GTEST_SKIP() << "foreman.qcif is not available";
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    const int frames = 10;
    ASSERT_GE(all.size(), enctest::FrameBytes(176, 144) * frames);
    const std::vector<uint8_t> source(all.begin(), all.begin() + enctest::FrameBytes(176, 144) * frames);

    EncoderParams p = enctest::BaseParams(2, 176, 144, frames);
    CheckWithFfmpeg("foreman_default", p, source);
    p.GOBMode = 1;
    p.UseModifiedQuant = 1;
    p.RateControl = 1;
    p.Bitrate = 48000;
    p.IFramePeriod = 5;
    CheckWithFfmpeg("foreman_gob_mq_rc", p, source);
}

}  // namespace
