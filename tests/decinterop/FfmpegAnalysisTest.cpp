// The macroblock analysis of streams from an independent encoder (the system's ffmpeg, run as a
// black box): four-vector macroblocks appear exactly where ffmpeg may write them (-flags +mv4),
// the picture sizes add up to the stream, every decoded macroblock has a QUANT in range, and the
// analysis leaves the pictures as they are without it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "R263IRI.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace {

struct Variant {
    const char* name;
    const char* codec;
    const char* options;
    bool fourVectors;  // ffmpeg may write four-vector macroblocks
};

std::string Q(const std::string& s) {
    return "'" + s + "'";
}

decodertest::AnalysedStream Decode(const std::vector<uint8_t>& stream, bool analysis) {
    return decodertest::DecodeWithAnalysis(stream, analysis);
}

class FfmpegAnalysis : public ::testing::TestWithParam<Variant> {};

TEST_P(FfmpegAnalysis, ConsistentWithTheStream) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Variant& v = GetParam();
    const std::string dir = testsupport::MakeTempDir(std::string("ffmpeg_analysis_") + v.name);
    // The foreman sequence when present (its motion makes ffmpeg split macroblocks), else a
    // synthetic one.
    std::vector<uint8_t> yuv;
    const std::string foreman = testsupport::SharedDataFile("foreman.qcif");
    const int frames = 20;
    if (!foreman.empty()) yuv = testsupport::ReadFile(foreman);
    if (yuv.size() >= size_t{38016} * frames) {
        yuv.resize(size_t{38016} * frames);
    } else {
        tessaro::SyntheticOptions o;
        o.frames = frames;
        yuv = tessaro::GenerateSyntheticSequence(o);
    }
    const std::string input = dir + "/in.qcif", stream = dir + "/out.263";
    ASSERT_TRUE(testsupport::WriteFile(input, yuv));
    const std::string encode =
        "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 176x144 -r 30000/1001 -i " + Q(input) +
        " -threads 1 -c:v " + v.codec + " -q:v 4 " + v.options + " -f h263 " + Q(stream) + " 2>&1";
    std::string log;
    ASSERT_EQ(testsupport::RunCommand(encode, &log), 0) << encode << "\n" << log;
    const std::vector<uint8_t> bits = testsupport::ReadFile(stream);
    ASSERT_GT(bits.size(), 8u);

    const decodertest::AnalysedStream on = Decode(bits, true);
    ASSERT_EQ(on.images.size(), static_cast<size_t>(frames));
    ASSERT_EQ(on.pictures.size(), on.images.size());
    EXPECT_EQ(on.images, Decode(bits, false).images);

    uint64_t total = 0;
    int fourVector = 0, splitVectors = 0;
    for (size_t p = 0; p < on.pictures.size(); ++p) {
        // I first, then P with an I every GOP of ffmpeg's: it writes no B-pictures.
        const int type = on.pictures[p].pictureType;
        EXPECT_TRUE(p == 0 ? type == 0 : type == 0 || type == 1) << p;
        total += on.pictures[p].bytes;
        for (const r263iri::MacroblockAnalysis& m : on.macroblocks[p]) {
            ASSERT_NE(m.kind, r263iri::MacroblockKind::kNotDecoded) << "picture " << p;
            EXPECT_GE(m.quant, 1);
            EXPECT_LE(m.quant, 31);
            EXPECT_LT(m.cbp, 64);
            if (type == 0) {
                EXPECT_EQ(m.kind, r263iri::MacroblockKind::kIntra);
            }
            if (m.kind != r263iri::MacroblockKind::kInter4V) {
                EXPECT_EQ(m.fourVectors, 0);
                continue;
            }
            ++fourVector;
            EXPECT_EQ(m.fourVectors, 1);
            const r263iri::BlockVectors& f = m.forward;
            if (f.x[0] != f.x[1] || f.x[0] != f.x[2] || f.x[0] != f.x[3] || f.y[0] != f.y[1] ||
                f.y[0] != f.y[2] || f.y[0] != f.y[3])
                ++splitVectors;
        }
    }
    EXPECT_EQ(total, bits.size());
    std::printf("%s: %zu pictures, %d four-vector macroblocks (%d with differing vectors)\n", v.name,
                on.pictures.size(), fourVector, splitVectors);
    if (v.fourVectors) {
        EXPECT_GT(fourVector, 0);
        EXPECT_GT(splitVectors, 0);
    } else {
        EXPECT_EQ(fourVector, 0);
    }
}

const Variant kVariants[] = {
    {"h263_mv4", "h263", "-flags +mv4", true},
    {"h263p_mv4", "h263p", "-flags +mv4", true},
    {"h263p_umv_obmc_mv4", "h263p", "-umv 1 -obmc 1 -flags +mv4", true},
    {"h263_plain", "h263", "", false},
};

INSTANTIATE_TEST_SUITE_P(Ffmpeg, FfmpegAnalysis, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
