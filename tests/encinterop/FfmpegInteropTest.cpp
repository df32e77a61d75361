// The encoder's streams decoded by an independent H.263 decoder (the system's ffmpeg): every
// stream must decode without error into one picture per coded picture, each matching the
// encoder's own reconstruction, and the quality against the source must agree with the
// encoder's PSNR figures.
#include <gtest/gtest.h>

#include <algorithm>
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
    p.ReconstructBPictures = 1;
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
    ASSERT_EQ(out.size() % fb, 0u);
    const size_t decodedCount = out.size() / fb;

    // The pictures in display order. The decoder outputs them so, except that it may show the
    // first anchor once more when it turns reordering on: match by content and order, allowing
    // one extra picture that repeats one already matched or still to come, only with B-pictures.
    std::vector<const enctest::CodedPicture*> display;
    for (const auto& pic : run.pictures) display.push_back(&pic);
    std::stable_sort(display.begin(), display.end(), [](auto* a, auto* b) { return a->frame < b->frame; });
    const bool reordered = p.UseTrueBPictures && p.BPictures > 0;
    if (!reordered) {
        ASSERT_EQ(decodedCount, display.size()) << "one decoded picture per coded picture";
    }

    size_t next = 0, extra = 0;
    double encoderMean = 0.0, decoderMean = 0.0;
    for (size_t k = 0; k < decodedCount; ++k) {
        const uint8_t* dec = out.data() + k * fb;
        if (next < display.size() && testsupport::PlanePsnr(dec, display[next]->recon.data(), luma) >= 40.0) {
            const enctest::CodedPicture& pic = *display[next++];
            const uint8_t* src = source.data() + static_cast<size_t>(pic.frame) * fb;
            decoderMean += testsupport::PlanePsnr(dec, src, luma);
            encoderMean += pic.snrY;
            continue;
        }
        double best = 0.0;
        for (const auto* pic : display)
            best = std::max(best, testsupport::PlanePsnr(dec, pic->recon.data(), luma));
        EXPECT_GE(best, 40.0) << "decoded picture " << k << " matches no reconstruction";
        ++extra;
    }
    // ffmpeg does not drain the anchor it holds when the stream ends with B-pictures: the last
    // picture in display order may be missing then.
    const bool endsWithB = !run.pictures.empty() && run.pictures.back().type == kPictureB;
    const size_t allowedMissing = endsWithB && display.back()->type != kPictureB ? 1 : 0;
    EXPECT_GE(next + allowedMissing, display.size())
        << "display-order pictures found in the decoder's output";
    EXPECT_LE(extra, reordered ? 1u : 0u);
    if (next == 0) return;
    encoderMean /= static_cast<double>(next);
    decoderMean /= static_cast<double>(next);
    // With Annex J the filter's thresholds amplify the small difference between ffmpeg's inverse
    // transform and the encoder's, so the pictures differ a little more (DeblockedLongTest judges
    // that against ffmpeg's own two transforms); each one still matches at 40 dB or more.
    EXPECT_NEAR(decoderMean, encoderMean, p.UseDeblockFilter ? 0.5 : 0.2);
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
    // Annexes I, J, K and T alone and together, with and without GOB headers.
    {"qcif_aic", 2, 176, 144, 4, [](EncoderParams& p) { p.UseAdvIntraCoding = 1; }},
    {"qcif_aic_gob", 2, 176, 144, 4, [](EncoderParams& p) { p.UseAdvIntraCoding = 1, p.GOBMode = 1; }},
    {"qcif_df", 2, 176, 144, 4, [](EncoderParams& p) { p.UseDeblockFilter = 1; }},
    {"qcif_df_gob", 2, 176, 144, 4, [](EncoderParams& p) { p.UseDeblockFilter = 1, p.GOBMode = 1; }},
    {"qcif_ss1", 2, 176, 144, 4, [](EncoderParams& p) { p.UseSliceMode = 1, p.MBlocksPerSlice = 1; }},
    {"qcif_ss11", 2, 176, 144, 4, [](EncoderParams& p) { p.UseSliceMode = 1, p.MBlocksPerSlice = 11; }},
    {"cif_ss22_row", 3, 352, 288, 3, [](EncoderParams& p) { p.UseSliceMode = 1, p.MBlocksPerSlice = 22; }},
    {"qcif_mq", 2, 176, 144, 4, [](EncoderParams& p) { p.UseModifiedQuant = 1; }},
    {"qcif_aic_df_mq_gob", 2, 176, 144, 4,
     [](EncoderParams& p) {
         p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1, p.GOBMode = 1;
     }},
    {"qcif_aic_df_mq_ss11", 2, 176, 144, 4,
     [](EncoderParams& p) {
         p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1, p.UseSliceMode = 1,
         p.MBlocksPerSlice = 11;
     }},
    {"qcif_aic_df_ss1", 2, 176, 144, 4,
     [](EncoderParams& p) {
         p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseSliceMode = 1, p.MBlocksPerSlice = 1;
     }},
    {"cif_aic_df_mq_ss22_large_levels", 3, 352, 288, 3,
     [](EncoderParams& p) {
         p.PQuantizer = p.IQuantizer = 5, p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1,
         p.UseModifiedQuant = 1, p.UseSliceMode = 1, p.MBlocksPerSlice = 22;
     },
     1},
    {"cif_aic_large_levels", 3, 352, 288, 3,
     [](EncoderParams& p) { p.PQuantizer = p.IQuantizer = 5, p.UseAdvIntraCoding = 1; }, 1},
    // B-pictures, alone and with the other annexes.
    {"qcif_b1", 2, 176, 144, 6, [](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 1; }},
    {"qcif_b2", 2, 176, 144, 9, [](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 2; }},
    {"qcif_b5", 2, 176, 144, 8, [](EncoderParams& p) { p.UseTrueBPictures = 1, p.BPictures = 5; }},
    {"qcif_b1_mq_gob_rc", 2, 176, 144, 6,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 1, p.UseModifiedQuant = 1, p.GOBMode = 1, p.RateControl = 1,
         p.Bitrate = 40000;
     }},
    // Without Annex I: ffmpeg reads the INTRA_MODE of a B-picture's intra macroblock after CBPC,
    // where this system (and the standard's B macroblock layer) has it right after MBTYPE.
    {"qcif_b2_df_mq_gob", 2, 176, 144, 7,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 2, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1,
         p.GOBMode = 1;
     }},
    {"qcif_b2_df_mq_ss11", 2, 176, 144, 7,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 2, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1,
         p.UseSliceMode = 1, p.MBlocksPerSlice = 11;
     }},
    {"qcif_b5_ss1_iperiod4", 2, 176, 144, 9,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 5, p.UseSliceMode = 1, p.MBlocksPerSlice = 1,
         p.IFramePeriod = 4;
     }},
    {"cif_b2_large_levels_mq", 3, 352, 288, 4,
     [](EncoderParams& p) {
         p.UseTrueBPictures = 1, p.BPictures = 2, p.PQuantizer = p.IQuantizer = 5, p.UseModifiedQuant = 1;
     },
     1},
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
