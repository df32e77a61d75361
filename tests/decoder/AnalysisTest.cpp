// The decoder's macroblock analysis: off unless asked, in display order with the pictures, every
// B macroblock kind with its vectors (direct ones scaled from the next anchor), picture sizes that
// add up to the stream, and damaged data marked as not decoded.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "DecodeAll.h"
#include "R263AVO.h"
#include "R263IRI.h"
#include "StreamBits.h"
#include "SyntheticSequence.h"

namespace {

using decodertest::Bits;
using r263iri::MacroblockKind;

constexpr int kMbs = 48;  // sub-QCIF

// PLUSPTYPE header of a sub-QCIF picture with UFEP 001; picture type 0 I, 1 P, 3 B; PQUANT 8.
void Header(Bits& b, int tr, int type) {
    b.Align().Put(0x20, 22).Put(static_cast<uint32_t>(tr), 8).Put(0b10000, 5).Put(7, 3).Put(1, 3);
    b.Put(1, 3).Put(0, 11).Put(0b1000, 4);
    b.Put(static_cast<uint32_t>(type), 3).Put(0, 3).Put(0b001, 3).Put(0, 1);
    if (type == 3) b.Put(1, 4).Put(1, 4);
    b.Put(8, 5).Put(0, 1);
}

void IntraMacroblockBits(Bits& b) {
    for (int k = 0; k < 6; ++k) b.Put(128, 8);  // INTRADC of each block
}

// I (TR 0) of flat intra macroblocks; P (TR 6) moving everything by (+4, 0) half-pels without
// residual; B (TR 3) whose macroblock m is, by m % 6: direct, backward, bidirectional, forward,
// intra, not coded, all with zero vector differences and no coefficients.
std::vector<uint8_t> IpbStream() {
    Bits b;
    Header(b, 0, 0);
    for (int m = 0; m < kMbs; ++m) {
        b.Put(1, 1).Put(0b0011, 4);  // MCBPC intra, CBPY none coded
        IntraMacroblockBits(b);
    }
    Header(b, 6, 1);
    for (int m = 0; m < kMbs; ++m) {
        b.Put(0, 1).Put(1, 1).Put(0b11, 2);  // COD 0, MCBPC inter, CBPY none coded
        if (m == 0) {
            b.Put(0b0000110, 7).Put(1, 1);  // MVD (+4, 0)
        } else {
            b.Put(1, 1).Put(1, 1);  // the predictor is already (+4, 0)
        }
    }
    Header(b, 3, 3);
    for (int m = 0; m < kMbs; ++m) {
        switch (m % 6) {
            case 0:
                b.Put(0, 1).Put(0b11, 2).Put(0, 1).Put(0b11, 2);  // direct, CBPC 0, CBPY none
                break;
            case 1:
                b.Put(0, 1).Put(0b010, 3).Put(1, 1).Put(1, 1);  // backward, MVD 0
                break;
            case 2:
                b.Put(0, 1).Put(0b00100, 5).Put(1, 1).Put(1, 1).Put(1, 1).Put(1, 1);  // bidirectional
                break;
            case 3:
                b.Put(0, 1).Put(0b100, 3).Put(1, 1).Put(1, 1);  // forward, MVD 0
                break;
            case 4:
                b.Put(0, 1).Put(0b000001, 6).Put(0, 1).Put(0b0011, 4);  // intra, CBPC 0, CBPY none
                IntraMacroblockBits(b);
                break;
            default:
                b.Put(1, 1);  // COD 1
                break;
        }
    }
    b.Align();
    return b.bytes;
}

// The stream decoded with the analysis on or off; every picture has an analysis exactly when it
// is on, and no call without a picture offers one.
decodertest::AnalysedStream Decode(const std::vector<uint8_t>& stream, bool analysis) {
    decodertest::AnalysedStream out = decodertest::DecodeWithAnalysis(stream, analysis);
    EXPECT_EQ(out.analysesWithoutPicture, 0);
    EXPECT_EQ(out.picturesWithoutAnalysis, analysis ? 0 : static_cast<int>(out.images.size()));
    return out;
}

std::vector<uint8_t> EncodedQcif(int frames, int bPictures) {
    tessaro::SyntheticOptions o;
    o.frames = frames;
    const std::vector<uint8_t> source = tessaro::GenerateSyntheticSequence(o);
    r263avo::EncoderParams p;
    p.EndFrame = frames - 1;
    p.UseTrueBPictures = bPictures > 0;
    p.BPictures = bPictures;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    std::vector<uint8_t> stream;
    if (r263avo::EncoderOpen(*e, p) == 0) {
        const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
        for (int f = 0; f < frames;) {
            uint32_t isIntra = 0, bytes = 0;
            const int32_t next =
                r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * 38016, &bytes);
            if (next < f) break;
            stream.insert(stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
            f = next + 1;
        }
        for (int i = 0; i < bPictures; ++i) {
            uint32_t bytes = 0;
            r263avo::EncoderFlushFrame(*e, &bytes);
            stream.insert(stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
        }
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    return stream;
}

TEST(DecoderAnalysis, OffUnlessAskedAndKeptByOpen) {
    const std::vector<uint8_t> stream = IpbStream();
    const decodertest::AnalysedStream off = Decode(stream, false);
    EXPECT_EQ(off.images.size(), 3u);
    EXPECT_TRUE(off.pictures.empty());

    // The switch is the caller's: DecoderOpen keeps it, switching off drops what was kept.
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderSetAnalysis(*d, true);
    r263iri::DecoderOpen(*d);
    uint32_t position = 0, bytes = 0;
    const uint8_t* first = nullptr;
    while (!first && position < stream.size()) {
        first = r263iri::DecodePicture(*d, stream.data(), stream.size(), &position, &bytes, position == 0);
    }
    ASSERT_NE(first, nullptr);
    EXPECT_NE(r263iri::DecoderPictureAnalysis(*d), nullptr);
    r263iri::DecoderSetAnalysis(*d, false);
    EXPECT_EQ(r263iri::DecoderPictureAnalysis(*d), nullptr);
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
}

TEST(DecoderAnalysis, EveryBKindWithItsVectorsInDisplayOrder) {
    const std::vector<uint8_t> stream = IpbStream();
    const decodertest::AnalysedStream on = Decode(stream, true);
    ASSERT_EQ(on.pictures.size(), 3u);
    // The analysis changes nothing in the pictures.
    EXPECT_EQ(on.images, Decode(stream, false).images);

    // Display order: I (TR 0), B (TR 3), P (TR 6).
    EXPECT_EQ(on.pictures[0].pictureType, 0);
    EXPECT_EQ(on.pictures[1].pictureType, 3);
    EXPECT_EQ(on.pictures[2].pictureType, 1);
    EXPECT_EQ(on.pictures[0].temporalReference, 0u);
    EXPECT_EQ(on.pictures[1].temporalReference, 3u);
    EXPECT_EQ(on.pictures[2].temporalReference, 6u);
    uint32_t total = 0;
    for (const auto& p : on.pictures) {
        EXPECT_EQ(p.mbColumns, 8);
        EXPECT_EQ(p.mbRows, 6);
        EXPECT_GT(p.bytes, 0u);
        total += p.bytes;
    }
    EXPECT_EQ(total, stream.size());

    for (const auto& m : on.macroblocks[0]) {
        EXPECT_EQ(m.kind, MacroblockKind::kIntra);
        EXPECT_EQ(m.quant, 8);
        EXPECT_EQ(m.cbp, 0);
    }
    for (const auto& m : on.macroblocks[2]) {
        ASSERT_EQ(m.kind, MacroblockKind::kInter);
        EXPECT_EQ(m.forward.x[0], 4);
        EXPECT_EQ(m.forward.y[0], 0);
        EXPECT_EQ(m.forward.x[3], 4);
    }
    const MacroblockKind expected[6] = {MacroblockKind::kDirect,        MacroblockKind::kBackward,
                                        MacroblockKind::kBidirectional, MacroblockKind::kForward,
                                        MacroblockKind::kIntra,         MacroblockKind::kNotCoded};
    const std::vector<r263iri::MacroblockAnalysis>& b = on.macroblocks[1];
    for (int m = 0; m < kMbs; ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(b[m].kind, expected[m % 6]);
        EXPECT_EQ(b[m].quant, 8);
        if (b[m].kind == MacroblockKind::kDirect) {
            // The anchor's (+4, 0) scaled by TRB 3 over TRD 6: forward (+2, 0), backward (-2, 0).
            EXPECT_EQ(b[m].forward.x[0], 2);
            EXPECT_EQ(b[m].backward.x[0], -2);
            EXPECT_EQ(b[m].fourVectors, 0);
        } else {
            EXPECT_EQ(b[m].forward.x[0], 0);
            EXPECT_EQ(b[m].backward.x[0], 0);
        }
    }
}

TEST(DecoderAnalysis, PictureSizesAddUpToTheStream) {
    const std::vector<uint8_t> stream = EncodedQcif(9, 2);
    ASSERT_FALSE(stream.empty());
    const decodertest::AnalysedStream on = Decode(stream, true);
    ASSERT_EQ(on.pictures.size(), 9u);
    const uint32_t total =
        std::accumulate(on.pictures.begin(), on.pictures.end(), 0u,
                        [](uint32_t s, const r263iri::PictureAnalysis& p) { return s + p.bytes; });
    EXPECT_EQ(total, stream.size());
    // Display order: the temporal references rise.
    for (size_t i = 1; i < on.pictures.size(); ++i) {
        EXPECT_GT(on.pictures[i].temporalReference, on.pictures[i - 1].temporalReference);
    }
}

TEST(DecoderAnalysis, DamagedMacroblocksAreMarkedNotDecoded) {
    std::vector<uint8_t> stream = EncodedQcif(4, 0);
    ASSERT_GT(stream.size(), 200u);
    // Zeros in the middle of the last picture's data: no macroblock code reads there, and
    // without GOB headers the rest of that picture is passed over.
    const size_t lastStart = [&] {
        size_t at = 0;
        for (size_t i = 0; i + 2 < stream.size(); ++i) {
            if (stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80) at = i;
        }
        return at;
    }();
    ASSERT_GT(stream.size() - lastStart, 40u);
    const size_t middle = lastStart + (stream.size() - lastStart) / 2;
    for (size_t i = middle; i < middle + 6; ++i) stream[i] = 0;
    const decodertest::AnalysedStream on = Decode(stream, true);
    ASSERT_EQ(on.pictures.size(), 4u);
    int notDecoded = 0;
    for (const auto& m : on.macroblocks[3]) {
        if (m.kind == MacroblockKind::kNotDecoded) {
            ++notDecoded;
            EXPECT_EQ(m.quant, 0);
        } else {
            EXPECT_GE(m.quant, 1);
            EXPECT_LE(m.quant, 31);
        }
    }
    EXPECT_GT(notDecoded, 0);
    for (int p = 0; p < 3; ++p) {
        for (const auto& m : on.macroblocks[p]) EXPECT_NE(m.kind, MacroblockKind::kNotDecoded);
    }
}

}  // namespace
