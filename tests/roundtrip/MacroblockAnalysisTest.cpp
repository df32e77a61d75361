// The decoder's macroblock analysis against what our encoder chose: for every picture of a stream
// (I, P and B pictures, over a table of option sets), the decoder reports the same picture type,
// size in bytes and, for each macroblock, the same kind, QUANT, CBP and vector as the encoder
// recorded. The encoder hands pictures out in coding order and the decoder in display order; both
// are put in frame order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "R263AVO.h"
#include "R263IRI.h"
#include "SyntheticSequence.h"

namespace {

struct Variant {
    const char* name;
    int format, width, height, frames;
    int bPictures = 0;
    int aic = 0, df = 0, slices = 0, modifiedQuant = 0;
    int gob = 0;
    int rateControl = 0;
    int intraPeriod = 0;
    int threads = 1;
    int quant = 8;
};

struct CodedPicture {
    int frame = 0;
    int type = 0;
    uint32_t bytes = 0;
    std::vector<r263avo::MacroblockDecision> decisions;
};

struct DecodedPicture {
    int type = 0;
    uint32_t bytes = 0;
    int columns = 0, rows = 0;
    std::vector<r263iri::MacroblockAnalysis> macroblocks;
};

// Encodes a synthetic sequence with decisions recorded; the pictures in frame order.
bool Encode(const Variant& v, std::vector<uint8_t>* stream, std::vector<CodedPicture>* pictures) {
    tessaro::SyntheticOptions o;
    o.width = v.width;
    o.height = v.height;
    o.frames = v.frames;
    const std::vector<uint8_t> source = tessaro::GenerateSyntheticSequence(o);
    r263avo::EncoderParams p;
    p.SourceFormat = v.format;
    p.Width = v.width;
    p.Height = v.height;
    p.EndFrame = v.frames - 1;
    p.FrameCount = v.frames;
    p.PQuantizer = p.IQuantizer = p.BQuantizer = v.quant;
    p.UseTrueBPictures = v.bPictures > 0;
    p.BPictures = v.bPictures;
    p.ReconstructBPictures = 1;  // the reconstruction names each picture's frame
    p.UseAdvIntraCoding = v.aic;
    p.UseDeblockFilter = v.df;
    p.UseSliceMode = v.slices > 0;
    p.MBlocksPerSlice = v.slices;
    p.UseModifiedQuant = v.modifiedQuant;
    p.GOBMode = v.gob;
    p.RateControl = v.rateControl;
    p.Bitrate = 48000;
    p.IFramePeriod = v.intraPeriod;
    p.Threads = v.threads;
    p.RecordDecisions = 1;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    if (r263avo::EncoderOpen(*e, p) != 0) {
        r263avo::EncoderDestroy(e);
        return false;
    }
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
    auto collect = [&](uint32_t bytes) {
        stream->insert(stream->end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
        r263avo::ReconstructedPicture rec;
        const r263avo::MacroblockDecision* decisions = nullptr;
        int32_t count = 0;
        if (bytes == 0 || !r263avo::EncoderLastReconstruction(*e, &rec)) return;
        EXPECT_TRUE(r263avo::EncoderLastDecisions(*e, &decisions, &count));
        pictures->push_back({rec.frame, rec.type, bytes, {decisions, decisions + count}});
    };
    const size_t frameBytes = static_cast<size_t>(v.width) * v.height * 3 / 2;
    for (int f = 0; f < v.frames;) {
        uint32_t isIntra = 0, bytes = 0;
        const int32_t next =
            r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * frameBytes, &bytes);
        if (next < f) break;
        collect(bytes);
        f = next + 1;
    }
    for (int i = 0; i < v.bPictures; ++i) {
        uint32_t bytes = 0;
        r263avo::EncoderFlushFrame(*e, &bytes);
        collect(bytes);
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    std::stable_sort(pictures->begin(), pictures->end(),
                     [](const CodedPicture& a, const CodedPicture& b) { return a.frame < b.frame; });
    return true;
}

// Decodes with the analysis on; one entry per returned picture (display order), each of which
// must have its analysis.
std::vector<DecodedPicture> DecodeWithAnalysis(const std::vector<uint8_t>& stream) {
    const decodertest::AnalysedStream decoded = decodertest::DecodeWithAnalysis(stream);
    EXPECT_EQ(decoded.analysesWithoutPicture, 0);
    EXPECT_EQ(decoded.picturesWithoutAnalysis, 0);
    std::vector<DecodedPicture> out;
    for (size_t i = 0; i < decoded.pictures.size(); ++i) {
        const r263iri::PictureAnalysis& a = decoded.pictures[i];
        out.push_back({a.pictureType, a.bytes, a.mbColumns, a.mbRows, decoded.macroblocks[i]});
    }
    return out;
}

// Compares the encoder's and the decoder's view of variant v; adds the kinds met, by picture type,
// to `seen`.
void CompareVariant(const Variant& v, std::map<int, std::set<int>>* seen) {
    std::vector<uint8_t> stream;
    std::vector<CodedPicture> coded;
    ASSERT_TRUE(Encode(v, &stream, &coded)) << "the encoder refused the options";
    const std::vector<DecodedPicture> decoded = DecodeWithAnalysis(stream);
    ASSERT_EQ(decoded.size(), coded.size());
    const int columns = (v.width + 15) / 16, rows = (v.height + 15) / 16;
    for (size_t i = 0; i < coded.size(); ++i) {
        const CodedPicture& c = coded[i];
        const DecodedPicture& d = decoded[i];
        ASSERT_EQ(d.type, c.type) << "picture " << i;
        EXPECT_EQ(d.bytes, c.bytes) << "picture " << i;
        ASSERT_EQ(d.columns, columns);
        ASSERT_EQ(d.rows, rows);
        ASSERT_EQ(c.decisions.size(), d.macroblocks.size());
        for (size_t m = 0; m < d.macroblocks.size(); ++m) {
            const r263avo::MacroblockDecision& want = c.decisions[m];
            const r263iri::MacroblockAnalysis& got = d.macroblocks[m];
            SCOPED_TRACE("picture " + std::to_string(i) + " (type " + std::to_string(c.type) +
                         "), macroblock " + std::to_string(m));
            ASSERT_EQ(static_cast<int>(got.kind), static_cast<int>(want.kind));
            EXPECT_EQ(got.quant, want.quant);
            EXPECT_EQ(got.cbp, want.cbp);
            EXPECT_EQ(got.fourVectors, 0);
            for (int b = 0; b < 4; ++b) {
                EXPECT_EQ(got.forward.x[b], want.x);
                EXPECT_EQ(got.forward.y[b], want.y);
                EXPECT_EQ(got.backward.x[b], 0);
                EXPECT_EQ(got.backward.y[b], 0);
            }
            (*seen)[c.type].insert(want.kind);
        }
    }
}

class MacroblockAnalysis : public ::testing::TestWithParam<Variant> {};

TEST_P(MacroblockAnalysis, DecoderReportsWhatTheEncoderChose) {
    std::map<int, std::set<int>> seen;
    CompareVariant(GetParam(), &seen);
}

const Variant kVariants[] = {
    {.name = "qcif", .format = 2, .width = 176, .height = 144, .frames = 8},
    {.name = "qcif_b2", .format = 2, .width = 176, .height = 144, .frames = 10, .bPictures = 2},
    {.name = "cif_b1_threads",
     .format = 3,
     .width = 352,
     .height = 288,
     .frames = 5,
     .bPictures = 1,
     .threads = 2},
    {.name = "qcif_ijkt_b1",
     .format = 2,
     .width = 176,
     .height = 144,
     .frames = 8,
     .bPictures = 1,
     .aic = 1,
     .df = 1,
     .slices = 11,
     .modifiedQuant = 1},
    {.name = "custom180x100_gob_rc",
     .format = 6,
     .width = 180,
     .height = 100,
     .frames = 10,
     .gob = 1,
     .rateControl = 1,
     .intraPeriod = 4},
    {.name = "sqcif_q31", .format = 1, .width = 128, .height = 96, .frames = 6, .quant = 31},
};

INSTANTIATE_TEST_SUITE_P(Variants, MacroblockAnalysis, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// The table together meets every kind the encoder uses, in the picture types that use it.
TEST(MacroblockAnalysisCoverage, VariantsMeetEveryEncoderKind) {
    std::map<int, std::set<int>> seen;
    for (const Variant& v : kVariants) CompareVariant(v, &seen);
    EXPECT_EQ(seen[r263avo::kPictureI], std::set<int>{r263avo::kDecisionIntra});
    EXPECT_TRUE(seen[r263avo::kPictureP].count(r263avo::kDecisionNotCoded));
    EXPECT_TRUE(seen[r263avo::kPictureP].count(r263avo::kDecisionInter));
    EXPECT_TRUE(seen[r263avo::kPictureP].count(r263avo::kDecisionIntra));
    EXPECT_TRUE(seen[r263avo::kPictureB].count(r263avo::kDecisionForward));
}

// The encoder's kind numbers are the decoder's.
TEST(MacroblockAnalysisCoverage, KindNumbersAgree) {
    EXPECT_EQ(r263avo::kDecisionNotCoded, static_cast<int>(r263iri::MacroblockKind::kNotCoded));
    EXPECT_EQ(r263avo::kDecisionInter, static_cast<int>(r263iri::MacroblockKind::kInter));
    EXPECT_EQ(r263avo::kDecisionIntra, static_cast<int>(r263iri::MacroblockKind::kIntra));
    EXPECT_EQ(r263avo::kDecisionForward, static_cast<int>(r263iri::MacroblockKind::kForward));
}

TEST(MacroblockAnalysisCoverage, EncoderKeepsNoDecisionsUnlessAsked) {
    r263avo::EncoderParams p;
    p.EndFrame = 0;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    ASSERT_EQ(r263avo::EncoderOpen(*e, p), 0);
    std::vector<uint8_t> picture(176 * 144 * 3 / 2, 128);
    uint32_t isIntra = 0, bytes = 0;
    ASSERT_EQ(r263avo::EncodeFrame(*e, 0, 1, &isIntra, picture.data(), &bytes), 0);
    const r263avo::MacroblockDecision* decisions = nullptr;
    int32_t count = -1;
    EXPECT_FALSE(r263avo::EncoderLastDecisions(*e, &decisions, &count));
    EXPECT_EQ(decisions, nullptr);
    EXPECT_EQ(count, -1);
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
}

}  // namespace
