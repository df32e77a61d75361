// The encoder's deblocked streams over 150 pictures and more, decoded by ffmpeg: the filter sits in
// the coding loop, so any difference from the standard's rule would grow picture by picture until
// the next I-picture. ffmpeg's decode must agree with the encoder's reconstruction about as well
// as ffmpeg's own two inverse transforms agree with each other, and no picture may fall below
// 45 dB.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "../encoder/EncTestUtil.h"
#include "LongStreams.h"
#include "TestSupport.h"

using namespace r263avo;

namespace {

struct LongCase {
    const char* name;
    int format, width, height, frames;
    void (*tune)(EncoderParams&);
};

void PrintTo(const LongCase& c, std::ostream* os) {
    *os << c.name;
}

const LongCase kLongCases[] = {
    {"qcif_df", 2, 176, 144, 150, [](EncoderParams& p) { p.UseDeblockFilter = 1; }},
    {"qcif_df_mq", 2, 176, 144, 150, [](EncoderParams& p) { p.UseDeblockFilter = 1, p.UseModifiedQuant = 1; }},
    {"qcif_df_rc", 2, 176, 144, 150,
     [](EncoderParams& p) { p.UseDeblockFilter = 1, p.RateControl = 1, p.Bitrate = 48000; }},
    {"qcif_df_mq_gob_rc", 2, 176, 144, 180,
     [](EncoderParams& p) {
         p.UseDeblockFilter = 1, p.UseModifiedQuant = 1, p.GOBMode = 1, p.RateControl = 1, p.Bitrate = 48000;
     }},
    {"qcif_df_slices11", 2, 176, 144, 150,
     [](EncoderParams& p) { p.UseDeblockFilter = 1, p.UseSliceMode = 1, p.MBlocksPerSlice = 11; }},
    {"qcif_aic_df_mq_slices", 2, 176, 144, 150,
     [](EncoderParams& p) {
         p.UseAdvIntraCoding = 1, p.UseDeblockFilter = 1, p.UseModifiedQuant = 1, p.UseSliceMode = 1,
         p.MBlocksPerSlice = 22;
     }},
    {"cif_df_mq_gob_rc", 3, 352, 288, 150,
     [](EncoderParams& p) {
         p.UseDeblockFilter = 1, p.UseModifiedQuant = 1, p.GOBMode = 1, p.RateControl = 1, p.Bitrate = 192000;
     }},
    {"custom240x176_df_rc", 6, 240, 176, 150,
     [](EncoderParams& p) {
         p.UseDeblockFilter = 1, p.RateControl = 1, p.Bitrate = 64000, p.FrameRateTarget = 30.0f;
     }},
};

class DeblockedLong : public testing::TestWithParam<LongCase> {
  protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on PATH";
    }
};

TEST_P(DeblockedLong, FfmpegMatchesTheReconstruction) {
    const LongCase& c = GetParam();
    EncoderParams p = enctest::BaseParams(c.format, c.width, c.height, c.frames);
    c.tune(p);
    const std::vector<uint8_t> source = longinterop::Source(c.width, c.height, c.frames);
    const enctest::EncodeRun run = enctest::EncodeSequence(p, source, true);
    ASSERT_FALSE(run.pictures.empty());
    std::vector<uint8_t> recon;
    for (const auto& pic : run.pictures) recon.insert(recon.end(), pic.recon.begin(), pic.recon.end());

    const std::string dir = testsupport::MakeTempDir(std::string("deblocked-long-") + c.name);
    const std::string stream = dir + "/s.263";
    ASSERT_TRUE(testsupport::WriteFile(stream, run.stream));
    std::string log;
    const std::vector<uint8_t> decoded = longinterop::FfmpegDecode(stream, dir + "/ffmpeg.yuv", "", &log);
    ASSERT_FALSE(decoded.empty()) << log;
    EXPECT_EQ(log, "") << "ffmpeg reported problems";
    ASSERT_EQ(decoded.size(), recon.size()) << "one decoded picture per coded picture";
    ASSERT_GE(run.pictures.size(), 150u);

    const size_t n = run.pictures.size();
    const auto ours = longinterop::Compare(decoded, recon, c.width, c.height, n);
    const auto self = longinterop::FfmpegSelfAgreement(stream, dir, c.width, c.height, n);
    std::printf("%s: %zu pictures, ffmpeg against the reconstruction mean %.2f dB (worst %.2f at %zu); "
                "ffmpeg's two transforms agree at %.2f dB\n",
                c.name, ours.pictures, ours.mean, ours.worst, ours.worstPicture, self.mean);
    EXPECT_GE(ours.mean, self.mean - 2.0);
    EXPECT_GE(ours.worst, 45.0) << "picture " << ours.worstPicture;
}

INSTANTIATE_TEST_SUITE_P(Streams, DeblockedLong, testing::ValuesIn(kLongCases),
                         [](const testing::TestParamInfo<LongCase>& info) { return std::string(info.param.name); });

}  // namespace
