// Streams of an independent H.263 encoder (the system's ffmpeg, run as a black box) decode with the
// same picture count as ffmpeg's own decoder and a mean luma PSNR of at least 40 dB against it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "../encinterop/LongStreams.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace {

struct Variant {
    const char* name;
    int width, height;
    const char* codec;  // h263 or h263p
    const char* rate;   // -r value
    const char* extra;  // more encoder options
};

std::string Q(const std::string& s) {
    return "'" + s + "'";
}

class FfmpegStreams : public ::testing::TestWithParam<Variant> {};

TEST_P(FfmpegStreams, DecodeLikeFfmpeg) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Variant& v = GetParam();
    const std::string dir = testsupport::MakeTempDir(std::string("decinterop_") + v.name);
    const int frames = 12;
    tessaro::SyntheticOptions options;
    options.width = v.width;
    options.height = v.height;
    options.frames = frames;
    const std::vector<uint8_t> yuv = tessaro::GenerateSyntheticSequence(options);
    const std::string input = dir + "/in.yuv", stream = dir + "/s.263", reference = dir + "/ref.yuv";
    ASSERT_TRUE(testsupport::WriteFile(input, yuv));
    const std::string size = std::to_string(v.width) + "x" + std::to_string(v.height);
    std::string encode = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " + size + " -r " + v.rate +
                         " -i " + Q(input) + " -threads 1 -c:v " + v.codec + " -q:v 3 " + v.extra +
                         " -f h263 " + Q(stream) + " 2>&1";
    std::string log;
    ASSERT_EQ(testsupport::RunCommand(encode, &log), 0) << encode << "\n" << log;
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -threads 1 -i " + Q(stream) +
                                          " -f rawvideo -pix_fmt yuv420p " + Q(reference) + " 2>&1",
                                      &log),
              0)
        << log;
    const std::vector<uint8_t> bits = testsupport::ReadFile(stream);
    ASSERT_GT(bits.size(), 8u);
    if (std::string(v.rate) == "30" && std::string(v.codec) == "h263p") {
        // This stream must exercise the custom picture clock: OPPTYPE bit 4 of the first header.
        const uint64_t head = (uint64_t(bits[0]) << 56) | (uint64_t(bits[1]) << 48) |
                              (uint64_t(bits[2]) << 40) | (uint64_t(bits[3]) << 32) |
                              (uint64_t(bits[4]) << 24) | (uint64_t(bits[5]) << 16) |
                              (uint64_t(bits[6]) << 8) | bits[7];
        EXPECT_EQ((head >> (63 - 41 - 3)) & 1, 1u) << "no custom picture clock in the stream";
    }
    const std::vector<uint8_t> ref = testsupport::ReadFile(reference);
    const size_t pictureBytes = static_cast<size_t>(v.width) * v.height * 3 / 2;
    ASSERT_EQ(ref.size() % pictureBytes, 0u);

    const decodertest::DecodedStream out = decodertest::DecodeAll(bits);
    ASSERT_EQ(out.pictureBytes, pictureBytes);
    ASSERT_EQ(out.pictures.size(), ref.size() / pictureBytes);
    double sum = 0;
    double worst = 1000;
    for (size_t i = 0; i < out.pictures.size(); ++i) {
        const double psnr = testsupport::PlanePsnr(out.pictures[i].data(), ref.data() + i * pictureBytes,
                                                   static_cast<size_t>(v.width) * v.height);
        sum += psnr;
        worst = std::min(worst, psnr);
    }
    const double mean = sum / static_cast<double>(out.pictures.size());
    std::printf("%s: %zu pictures, mean luma PSNR %.2f dB, worst %.2f dB\n", v.name, out.pictures.size(),
                mean, worst);
    EXPECT_GE(mean, 40.0);
}

// ffmpeg's h263p encoder writes no B-pictures ("B-frames not supported by codec"); its Annex I
// (+aic), Annex J (+loop, with four vectors: +mv4+loop) and Annex K (structured slices) streams and
// their combinations are decoded here, some with a luminance mask that varies QUANT per macroblock.
const Variant kVariants[] = {
    {"h263_sqcif", 128, 96, "h263", "30000/1001", ""},
    {"h263_qcif", 176, 144, "h263", "30000/1001", ""},
    {"h263_cif", 352, 288, "h263", "30000/1001", ""},
    {"h263_4cif", 704, 576, "h263", "30000/1001", ""},
    {"h263p_320x240_ntsc", 320, 240, "h263p", "30000/1001", ""},
    {"h263p_320x240_r30", 320, 240, "h263p", "30", ""},
    {"h263p_qcif", 176, 144, "h263p", "30000/1001", ""},
    {"h263p_320x240_mv4loop", 320, 240, "h263p", "30000/1001", "-flags +mv4+loop"},
    {"h263p_320x240_r30_mv4loop", 320, 240, "h263p", "30", "-flags +mv4+loop"},
    {"h263p_qcif_aic", 176, 144, "h263p", "30000/1001", "-flags +aic"},
    {"h263p_qcif_loop", 176, 144, "h263p", "30000/1001", "-flags +loop"},
    {"h263p_qcif_slices", 176, 144, "h263p", "30000/1001", "-structured_slices 1 -slices 4"},
    {"h263p_qcif_aic_loop", 176, 144, "h263p", "30000/1001", "-flags +aic+loop"},
    {"h263p_cif_aic_slices", 352, 288, "h263p", "30000/1001", "-flags +aic -structured_slices 1 -slices 4"},
    {"h263p_qcif_loop_slices", 176, 144, "h263p", "30", "-flags +loop -structured_slices 1 -slices 4"},
    {"h263p_320x240_aic_mv4loop_slices", 320, 240, "h263p", "30000/1001",
     "-flags +aic+mv4+loop -structured_slices 1 -slices 4"},
    {"h263p_qcif_aic_mv4loop_lumimask", 176, 144, "h263p", "30000/1001",
     "-flags +aic+mv4+loop -lumi_mask 0.6"},
    {"h263p_qcif_loop_lumimask_slices", 176, 144, "h263p", "30",
     "-flags +loop -lumi_mask 0.6 -structured_slices 1 -slices 4"},
};

INSTANTIATE_TEST_SUITE_P(Ffmpeg, FfmpegStreams, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

namespace {

// ffmpeg's streams with unrestricted vectors (Annex D, with the reversible vector codes of
// PLUSPTYPE), advanced prediction (Annex F: four vectors and overlapped motion compensation) and
// four-vector macroblocks, and the alternative inter VLC (Annex S, which changes the bits but not
// the reconstruction), alone and with Annexes I and J: every picture decodes, at 50 dB or more on
// average against ffmpeg's own decode.
struct AnnexVariant {
    const char* name;
    const char* codec;
    const char* options;
};

const AnnexVariant kAnnexVariants[] = {
    {"h263p_umv", "h263p", "-umv 1"},
    {"h263p_obmc", "h263p", "-obmc 1"},
    {"h263_obmc", "h263", "-obmc 1"},
    {"h263_mv4", "h263", "-flags +mv4"},
    {"h263p_mv4", "h263p", "-flags +mv4"},
    {"h263p_umv_obmc_mv4", "h263p", "-umv 1 -obmc 1 -flags +mv4"},
    {"h263p_umv_aic_loop", "h263p", "-umv 1 -flags +aic+loop"},
    {"h263p_obmc_mv4_aic_loop", "h263p", "-obmc 1 -flags +mv4+aic+loop"},
    {"h263p_umv_obmc_mv4_aic_loop", "h263p", "-umv 1 -obmc 1 -flags +mv4+aic+loop"},
    {"h263p_aiv", "h263p", "-aiv 1"},
    {"h263p_aiv_aic", "h263p", "-aiv 1 -flags +aic"},
    {"h263p_aiv_loop", "h263p", "-aiv 1 -flags +loop"},
    {"h263p_aiv_umv", "h263p", "-aiv 1 -umv 1"},
    {"h263p_aiv_umv_aic_loop", "h263p", "-aiv 1 -umv 1 -flags +aic+loop"},
    {"h263p_aiv_obmc_mv4", "h263p", "-aiv 1 -obmc 1 -flags +mv4"},
};

TEST(FfmpegAnnexStreams, DecodeLikeFfmpeg) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const int w = 176, h = 144, frames = 40;
    const std::string dir = testsupport::MakeTempDir("decinterop-annexes");
    const std::string input = dir + "/in.yuv";
    ASSERT_TRUE(testsupport::WriteFile(input, longinterop::Source(w, h, frames)));
    for (const AnnexVariant& v : kAnnexVariants) {
        SCOPED_TRACE(v.name);
        const std::string stream = dir + "/" + v.name + ".263";
        const std::string encode = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 176x144 -r 30000/1001 -i " +
                                   Q(input) + " -threads 1 -c:v " + v.codec + " -q:v 3 " + v.options + " -f h263 " +
                                   Q(stream) + " </dev/null 2>&1";
        std::string log;
        ASSERT_EQ(testsupport::RunCommand(encode, &log), 0) << encode << "\n" << log;
        const std::vector<uint8_t> reference = longinterop::FfmpegDecode(stream, dir + "/ref.yuv", "", &log);
        ASSERT_FALSE(reference.empty()) << log;
        const size_t fb = longinterop::FrameBytes(w, h), count = reference.size() / fb;
        const decodertest::DecodedStream out = decodertest::DecodeAll(testsupport::ReadFile(stream));
        ASSERT_EQ(out.pictures.size(), count);
        std::vector<uint8_t> ours;
        for (const auto& pic : out.pictures) ours.insert(ours.end(), pic.begin(), pic.end());
        const auto agreement = longinterop::Compare(ours, reference, w, h, count);
        std::printf("%s: %zu pictures, mean luma PSNR %.2f dB against ffmpeg (worst %.2f)\n", v.name,
                    agreement.pictures, agreement.mean, agreement.worst);
        EXPECT_GE(agreement.mean, 50.0);
    }
}

}  // namespace
