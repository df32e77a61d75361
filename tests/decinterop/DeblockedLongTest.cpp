// ffmpeg's deblocked streams over 150 pictures and more, decoded here: since the filter is in the
// loop, a rule that differs from the standard's shows as a drift until the next I-picture. The
// decode must agree with ffmpeg's own about as well as ffmpeg's two inverse transforms agree with
// each other, and no picture may fall below 45 dB.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "../encinterop/LongStreams.h"
#include "TestSupport.h"

namespace {

struct LongVariant {
    const char* name;
    int width, height, frames;
    const char* options;  // ffmpeg h263p encoder options
};

const LongVariant kLongVariants[] = {
    {"qcif_loop", 176, 144, 150, "-q:v 3 -flags +loop"},
    {"qcif_loop_mv4", 176, 144, 150, "-q:v 3 -flags +loop+mv4"},
    // Rate control with a luminance mask: QUANT changes from macroblock to macroblock.
    {"qcif_loop_lumimask", 176, 144, 160, "-b:v 96k -flags +loop -lumi_mask 0.6"},
    // Not with +aic: ffmpeg's own decoder reports damage all over its +aic streams whose QUANT
    // changes per macroblock.
    {"qcif_loop_mv4_lumimask", 176, 144, 150, "-b:v 64k -flags +loop+mv4 -lumi_mask 0.5"},
    {"cif_loop_lumimask", 352, 288, 150, "-b:v 256k -flags +loop -lumi_mask 0.6"},
};

TEST(DeblockedLong, DecodeLikeFfmpeg) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    for (const LongVariant& v : kLongVariants) {
        SCOPED_TRACE(v.name);
        const std::string dir = testsupport::MakeTempDir(std::string("decinterop-long-") + v.name);
        const std::string input = dir + "/in.yuv", stream = dir + "/s.263";
        ASSERT_TRUE(testsupport::WriteFile(input, longinterop::Source(v.width, v.height, v.frames)));
        const std::string size = std::to_string(v.width) + "x" + std::to_string(v.height);
        const std::string encode = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " + size +
                                   " -r 30000/1001 -i " + longinterop::Quoted(input) + " -threads 1 -c:v h263p " +
                                   v.options + " -f h263 " + longinterop::Quoted(stream) + " </dev/null 2>&1";
        std::string log;
        ASSERT_EQ(testsupport::RunCommand(encode, &log), 0) << encode << "\n" << log;
        const std::vector<uint8_t> reference = longinterop::FfmpegDecode(stream, dir + "/ref.yuv", "", &log);
        ASSERT_FALSE(reference.empty()) << log;
        const size_t fb = longinterop::FrameBytes(v.width, v.height);
        const size_t count = reference.size() / fb;
        ASSERT_GE(count, 150u);

        const decodertest::DecodedStream out = decodertest::DecodeAll(testsupport::ReadFile(stream));
        ASSERT_EQ(out.pictureBytes, fb);
        ASSERT_EQ(out.pictures.size(), count);
        std::vector<uint8_t> ours;
        for (const auto& pic : out.pictures) ours.insert(ours.end(), pic.begin(), pic.end());
        const auto agreement = longinterop::Compare(ours, reference, v.width, v.height, count);
        const auto self = longinterop::FfmpegSelfAgreement(stream, dir, v.width, v.height, count);
        std::printf("%s: %zu pictures, mean luma PSNR %.2f dB against ffmpeg (worst %.2f at %zu); ffmpeg's two "
                    "transforms agree at %.2f dB\n",
                    v.name, agreement.pictures, agreement.mean, agreement.worst, agreement.worstPicture, self.mean);
        EXPECT_GE(agreement.mean, self.mean - 2.0);
        EXPECT_GE(agreement.worst, 45.0) << "picture " << agreement.worstPicture;
    }
}

}  // namespace
