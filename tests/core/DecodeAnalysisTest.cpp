// The decode job's analysis of a stream (collected only when asked, one entry per output frame,
// with the stream's header facts), its memory limit, and the texts the decoded window shows: the
// macroblock tooltip, the picture summary and the stream properties.
#include <gtest/gtest.h>

#include "DecodeAnalysis.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

using r263iri::MacroblockAnalysis;
using r263iri::MacroblockKind;

class Quiet : public JobObserver {
  public:
    void Log(const std::string&) override {}
};

// A synthetic QCIF sequence of `frames` frames coded with default settings into dir/s.263.
std::string EncodeStream(const std::string& dir, int frames) {
    SyntheticOptions o;
    o.frames = frames;
    const std::string raw = dir + "/seq.qcif";
    testsupport::WriteFile(raw, GenerateSyntheticSequence(o));
    VideoFile input;
    EXPECT_TRUE(input.Open(raw));
    EncodeJobConfig config;
    config.input = &input;
    config.outputPath = dir + "/s.263";
    config.settings = LoadSettings({});
    ReinitEncoderParams({}, input.frameCount(), input.format(), input.width(), input.height(),
                        &config.settings);
    EncodeJob job;
    Quiet quiet;
    std::string error;
    EXPECT_TRUE(job.Start(config, quiet, &error)) << error;
    EXPECT_TRUE(job.Wait().completed);
    return config.outputPath;
}

std::shared_ptr<const StreamAnalysis> DecodeCollecting(const std::string& path, bool collect) {
    VideoFile stream;
    EXPECT_TRUE(stream.Open(path));
    DecodeJobConfig config;
    config.input = &stream;
    config.outputPath = path + ".qcif";
    config.settings = LoadSettings({});
    config.collectAnalysis = collect;
    DecodeJob job;
    Quiet quiet;
    EXPECT_TRUE(job.Start(config, quiet));
    EXPECT_TRUE(job.Wait().completed);
    return job.analysis();
}

TEST(DecodeJobAnalysis, CollectedOnlyWhenAskedOnePerOutputFrame) {
    const std::string dir = testsupport::MakeTempDir("decode-analysis");
    const std::string path = EncodeStream(dir, 5);
    EXPECT_EQ(DecodeCollecting(path, false), nullptr);

    const std::shared_ptr<const StreamAnalysis> a = DecodeCollecting(path, true);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->pictures.size(), 5u);
    EXPECT_TRUE(a->complete);
    EXPECT_EQ(a->records, 5u * 99);
    ASSERT_TRUE(a->haveInfo);
    EXPECT_EQ(a->info.pictures, 5);
    EXPECT_EQ(a->info.format, 2);
    uint64_t bytes = 0;
    for (int k = 0; k < 5; ++k) {
        const AnalysedPicture* p = a->Picture(k);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->type, k == 0 ? 'I' : 'P');
        EXPECT_EQ(p->mbColumns, 11);
        EXPECT_EQ(p->mbRows, 9);
        bytes += p->bytes;
    }
    EXPECT_EQ(bytes, testsupport::ReadFile(path).size());
    EXPECT_EQ(a->Picture(5), nullptr);
    EXPECT_EQ(a->Picture(-1), nullptr);
}

TEST(DecodeJobAnalysis, StopsAtTheMemoryLimitAndStaysInStep) {
    StreamAnalysis a;
    EXPECT_FALSE(AppendPictureAnalysis(nullptr, &a));
    EXPECT_FALSE(a.complete);

    StreamAnalysis b;
    MacroblockAnalysis one[2];
    r263iri::PictureAnalysis small{1, 0, 10, 2, 1, one};
    EXPECT_TRUE(AppendPictureAnalysis(&small, &b));
    // A picture beyond the limit is refused before its records are read...
    r263iri::PictureAnalysis huge{1, 0, 10, 100000, 10000, one};
    EXPECT_FALSE(AppendPictureAnalysis(&huge, &b));
    EXPECT_FALSE(b.complete);
    // ...and so is every later one, which would no longer line up with its frame.
    EXPECT_FALSE(AppendPictureAnalysis(&small, &b));
    EXPECT_EQ(b.pictures.size(), 1u);
}

AnalysedPicture OnePicture(char type, const MacroblockAnalysis& m) {
    AnalysedPicture p;
    p.type = type;
    p.bytes = 321;
    p.mbColumns = 2;
    p.mbRows = 1;
    p.macroblocks = {MacroblockAnalysis{}, m};
    return p;
}

TEST(AnalysisTexts, VectorsInPixels) {
    EXPECT_EQ(VectorText(3, -4), "(+1.5, -2)");
    EXPECT_EQ(VectorText(0, 0), "(0, 0)");
    EXPECT_EQ(VectorText(-1, 7), "(-0.5, +3.5)");
}

TEST(AnalysisTexts, TooltipNamesTypeQuantVectorsAndCbp) {
    MacroblockAnalysis inter;
    inter.kind = MacroblockKind::kInter;
    inter.quant = 12;
    inter.cbp = 0b100001;
    for (int b = 0; b < 4; ++b) {
        inter.forward.x[b] = 3;
        inter.forward.y[b] = -2;
    }
    const AnalysedPicture p = OnePicture('P', inter);
    EXPECT_EQ(DescribeMacroblock(p, 1, 0),
              "Macroblock 1 (column 1, row 0)\nType: inter\nQUANT: 12\nVector: (+1.5, -1)\n"
              "CBP: 100001 (Y0 Y1 Y2 Y3 Cb Cr)");
    EXPECT_EQ(DescribeMacroblock(p, 0, 0), "Macroblock 0 (column 0, row 0)\nType: not decoded");
    EXPECT_EQ(DescribeMacroblock(p, 2, 0), "");
    EXPECT_EQ(DescribeMacroblock(p, 0, 1), "");
    EXPECT_EQ(PictureSummary(p), "P-picture, 321 bytes");

    MacroblockAnalysis four = inter;
    four.kind = MacroblockKind::kInter4V;
    four.fourVectors = 1;
    four.forward.x[3] = -1;
    EXPECT_NE(DescribeMacroblock(OnePicture('P', four), 1, 0)
                  .find("Vectors: (+1.5, -1) (+1.5, -1) (+1.5, -1) (-0.5, -1)\n"),
              std::string::npos);

    MacroblockAnalysis bi;
    bi.kind = MacroblockKind::kBidirectional;
    bi.quant = 9;
    bi.forward.x[0] = 2;
    bi.backward.y[0] = -6;
    const std::string b = DescribeMacroblock(OnePicture('B', bi), 1, 0);
    EXPECT_NE(b.find("Type: bidirectional\n"), std::string::npos);
    EXPECT_NE(b.find("Forward vector: (+1, 0)\nBackward vector: (0, -3)\n"), std::string::npos);

    MacroblockAnalysis intra;
    intra.kind = MacroblockKind::kIntra;
    intra.quant = 5;
    const std::string i = DescribeMacroblock(OnePicture('B', intra), 1, 0);
    EXPECT_EQ(i.find("vector"), std::string::npos);
    EXPECT_EQ(i.find("Vector"), std::string::npos);
}

TEST(AnalysisTexts, PropertiesOfAStream) {
    StreamInfo info;
    info.format = 2;
    info.width = info.maxWidth = 176;
    info.height = info.maxHeight = 144;
    info.pictures = info.frames = 10;
    info.byType = {{"I", 1}, {"P", 9}};
    info.bytes = 12500;
    const auto rows = StreamPropertyRows(info, 10.0);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], std::make_pair(std::string("Picture format"), std::string("QCIF, 176x144")));
    EXPECT_EQ(rows[1].second, "none");
    EXPECT_EQ(rows[2].second, "10 (I 1, P 9)");
    EXPECT_EQ(rows[4].second, "100.0 Kbps at 10.0 fps");  // 12500 bytes over 1 s
    EXPECT_EQ(rows[5].second, "0 (Baseline)");
    EXPECT_EQ(rows[6].first, "Level");
}

}  // namespace
}  // namespace tessaro
