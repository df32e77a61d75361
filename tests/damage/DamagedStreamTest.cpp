// Damaged streams: every truncation point and thousands of seeded random bit flips and byte
// overwrites decode without a fault (the sanitizer build checks every access), within a bounded
// number of calls, and never return more pictures than the damaged stream has picture start codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "R263AVO.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace {

// Picture start codes (17-bit prefix and 5 zero bits) at any bit offset.
size_t CountPictureStartCodes(const std::vector<uint8_t>& s) {
    size_t count = 0;
    const size_t bits = s.size() * 8;
    auto bit = [&](size_t i) { return (s[i / 8] >> (7 - i % 8)) & 1; };
    size_t zeros = 0;
    for (size_t i = 0; i + 6 <= bits; ++i) {
        if (bit(i) == 0) {
            ++zeros;
            continue;
        }
        if (zeros >= 16 && bit(i + 1) == 0 && bit(i + 2) == 0 && bit(i + 3) == 0 && bit(i + 4) == 0 &&
            bit(i + 5) == 0) {
            ++count;
        }
        zeros = 0;
    }
    return count;
}

void CheckDamaged(const std::vector<uint8_t>& stream, const std::string& what) {
    const size_t pscs = CountPictureStartCodes(stream);
    // Every call either meets a picture start code or ends the stream.
    const uint32_t bound = static_cast<uint32_t>(pscs) + 2;
    const decodertest::DecodedStream out = decodertest::DecodeAll(stream, bound + 1);
    ASSERT_LE(out.calls, bound) << what;
    ASSERT_LE(out.pictures.size(), pscs) << what;
}

struct OwnOptions {
    int gob = 0, mq = 0, bPictures = 0, aic = 0, df = 0, slices = 0;
};

std::vector<uint8_t> EncodeOwn(int format, int width, int height, int frames, const OwnOptions& options) {
    tessaro::SyntheticOptions o;
    o.width = width;
    o.height = height;
    o.frames = frames;
    const std::vector<uint8_t> source = tessaro::GenerateSyntheticSequence(o);
    r263avo::EncoderParams p;
    p.SourceFormat = format;
    p.Width = width;
    p.Height = height;
    p.EndFrame = frames - 1;
    p.FrameCount = frames;
    p.GOBMode = options.gob;
    p.UseModifiedQuant = options.mq;
    p.UseTrueBPictures = options.bPictures > 0;
    p.BPictures = options.bPictures;
    p.UseAdvIntraCoding = options.aic;
    p.UseDeblockFilter = options.df;
    p.UseSliceMode = options.slices > 0;
    p.MBlocksPerSlice = options.slices;
    p.PQuantizer = p.IQuantizer = p.BQuantizer = 16;
    std::vector<uint8_t> stream;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    EXPECT_EQ(r263avo::EncoderOpen(*e, p), 0);
    const size_t frameBytes = static_cast<size_t>(width) * height * 3 / 2;
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
    for (int f = 0; f < frames;) {
        uint32_t isIntra = 0, bytes = 0;
        const int32_t next =
            r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * frameBytes, &bytes);
        if (next < f) break;
        stream.insert(stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
        f = next + 1;
    }
    for (int i = 0; i < options.bPictures; ++i) {
        uint32_t bytes = 0;
        if (r263avo::EncoderFlushFrame(*e, &bytes) != 0) break;
        stream.insert(stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    return stream;
}

std::vector<uint8_t> EncodeFfmpeg(const std::string& name, int width, int height,
                                  const std::string& options) {
    // One folder per test: the tests of this file run as parallel processes.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string dir =
        testsupport::MakeTempDir("damage_" + std::string(test ? test->name() : "none") + "_" + name);
    tessaro::SyntheticOptions o;
    o.width = width;
    o.height = height;
    o.frames = 3;
    const std::string input = dir + "/in.yuv", output = dir + "/s.263";
    testsupport::WriteFile(input, tessaro::GenerateSyntheticSequence(o));
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " +
                                std::to_string(width) + "x" + std::to_string(height) + " -r 30 -i '" + input +
                                "' -threads 1 " + options + " -f h263 '" + output + "' 2>&1";
    if (testsupport::RunCommand(command) != 0) return {};
    return testsupport::ReadFile(output);
}

struct Source {
    std::string name;
    std::vector<uint8_t> stream;
};

std::vector<Source> Streams() {
    std::vector<Source> list;
    list.push_back({"own_sqcif_gob_mq", EncodeOwn(1, 128, 96, 3, {.gob = 1, .mq = 1})});
    list.push_back({"own_custom_100x68", EncodeOwn(6, 100, 68, 3, {})});
    // Every annex with B-pictures: GOB headers in one stream, slices in the other.
    list.push_back({"own_96x64_b2_aic_df_mq_gob",
                    EncodeOwn(6, 96, 64, 4, {.gob = 1, .mq = 1, .bPictures = 2, .aic = 1, .df = 1})});
    list.push_back({"own_96x64_b1_aic_df_ss5",
                    EncodeOwn(6, 96, 64, 3, {.bPictures = 1, .aic = 1, .df = 1, .slices = 5})});
    if (testsupport::HaveProgram("ffmpeg")) {
        list.push_back({"ffmpeg_sqcif", EncodeFfmpeg("sqcif", 128, 96, "-c:v h263 -q:v 20")});
        list.push_back(
            {"ffmpeg_h263p_mv4loop", EncodeFfmpeg("mv4", 96, 64, "-c:v h263p -q:v 20 -flags +mv4+loop")});
        list.push_back({"ffmpeg_h263p_aic_loop_slices",
                        EncodeFfmpeg("aic", 96, 64,
                                     "-c:v h263p -q:v 20 -flags +aic+loop -structured_slices 1 -slices 2")});
        // Unrestricted vectors with the reversible codes, overlapped prediction, four vectors.
        list.push_back({"ffmpeg_h263p_umv_obmc_mv4",
                        EncodeFfmpeg("umvobmc", 96, 64, "-c:v h263p -q:v 20 -umv 1 -obmc 1 -flags +mv4")});
        list.push_back({"ffmpeg_h263_obmc", EncodeFfmpeg("obmc", 128, 96, "-c:v h263 -q:v 20 -obmc 1")});
        // The alternative inter VLC at a fine quantiser, so that blocks switch tables and
        // macroblocks with both chroma blocks coded keep the intra CBPY.
        list.push_back(
            {"ffmpeg_h263p_aiv_aic", EncodeFfmpeg("aiv", 96, 64, "-c:v h263p -q:v 4 -aiv 1 -flags +aic")});
    }
    return list;
}

TEST(DamagedStreams, EveryTruncationPoint) {
    // TESSARO_DAMAGE_SAVE=<folder> keeps the undamaged streams (seeds for the fuzzer).
    const char* save = std::getenv("TESSARO_DAMAGE_SAVE");
    for (const Source& s : Streams()) {
        ASSERT_GT(s.stream.size(), 100u) << s.name;
        std::printf("%s: %zu bytes\n", s.name.c_str(), s.stream.size());
        if (save && *save) testsupport::WriteFile(std::string(save) + "/" + s.name + ".263", s.stream);
        for (size_t n = 0; n <= s.stream.size(); ++n) {
            // A copy of exactly n bytes, so that the sanitizer sees any read past the end.
            const std::vector<uint8_t> cut(s.stream.begin(), s.stream.begin() + static_cast<long>(n));
            CheckDamaged(cut, s.name + " cut at " + std::to_string(n));
            if (HasFatalFailure()) return;
        }
    }
}

TEST(DamagedStreams, RandomBitFlipsAndOverwrites) {
    std::mt19937 rng(20240611);
    for (const Source& s : Streams()) {
        for (int trial = 0; trial < 1000; ++trial) {
            std::vector<uint8_t> damaged = s.stream;
            const int kind = trial % 3;
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits; ++e) {
                const size_t at = rng() % damaged.size();
                if (kind == 0) {
                    damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
                } else if (kind == 1) {
                    damaged[at] = static_cast<uint8_t>(rng());
                } else {
                    // Runs of zero bytes make false start codes and long zero fields.
                    for (size_t k = at; k < damaged.size() && k < at + 3; ++k) damaged[k] = 0;
                }
            }
            CheckDamaged(damaged, s.name + " trial " + std::to_string(trial));
            if (HasFatalFailure()) return;
        }
    }
}

TEST(DamagedStreams, NoiseAndZeros) {
    std::mt19937 rng(7);
    for (size_t size : {0u, 1u, 3u, 22u, 100u, 4096u}) {
        std::vector<uint8_t> noise(size);
        for (auto& b : noise) b = static_cast<uint8_t>(rng());
        CheckDamaged(noise, "noise " + std::to_string(size));
        CheckDamaged(std::vector<uint8_t>(size, 0), "zeros " + std::to_string(size));
    }
    // A lone picture header with nothing after it is no picture: it cannot hold its macroblocks.
    const std::vector<uint8_t> header = {0x00, 0x00, 0x80, 0x02, 0x08};
    const decodertest::DecodedStream out = decodertest::DecodeAll(header);
    EXPECT_EQ(out.pictures.size(), 0u);
    ASSERT_FALSE(out.statuses.empty());
    EXPECT_EQ(out.statuses.front(), r263iri::DecodeStatus::kPictureTooShort);
}

}  // namespace
