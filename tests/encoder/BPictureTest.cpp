// B-pictures: the hold-and-reorder schedule, the flush of the held pictures at the end of the
// input, the B-picture header and macroblock layer, the quantiser of B-pictures, and the
// reconstruction and SNR of B-pictures on request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EncTestUtil.h"
#include "TestSupport.h"

using namespace r263avo;
using enctest::BitReader;

namespace {

constexpr int kW = 176, kH = 144, kMbs = 99;

EncoderParams BParams(int frames, int bPictures) {
    EncoderParams p = enctest::BaseParams(2, kW, kH, frames);
    p.UseTrueBPictures = 1;
    p.BPictures = bPictures;
    p.ReconstructBPictures = 1;
    return p;
}

// Coding order as "I0 P3 B1 ..." from the reconstructions the encoder reports.
std::string Order(const enctest::EncodeRun& run) {
    std::string s;
    for (const auto& pic : run.pictures) {
        if (!s.empty()) s += ' ';
        s += pic.type == kPictureI ? 'I' : pic.type == kPictureP ? 'P' : 'B';
        s += std::to_string(pic.frame);
    }
    return s;
}

// The temporal references of the pictures of a stream, in stream order.
std::vector<uint32_t> TemporalReferences(const std::vector<uint8_t>& stream) {
    std::vector<uint32_t> trs;
    for (size_t i = 0; i + 4 < stream.size(); ++i) {
        // PSC: 0000 0000 0000 0000 1000 00, always byte aligned.
        if (stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80) {
            trs.push_back(((stream[i + 2] & 3u) << 6) | (stream[i + 3] >> 2));
        }
    }
    return trs;
}

}  // namespace

TEST(BPictures, CodingOrderAndFlush) {
    struct Case {
        const char* what;
        int frames, bPictures;
        const char* order;
    };
    const Case cases[] = {
        {"ends right after an anchor", 7, 2, "I0 P3 B1 B2 P6 B4 B5"},
        {"ends one frame after an anchor", 8, 2, "I0 P3 B1 B2 P6 B4 B5 P7"},
        {"ends nB frames after an anchor", 9, 2, "I0 P3 B1 B2 P6 B4 B5 P7 P8"},
        {"one B-picture", 6, 1, "I0 P2 B1 P4 B3 P5"},
        {"five B-pictures", 13, 5, "I0 P6 B1 B2 B3 B4 B5 P12 B7 B8 B9 B10 B11"},
        {"shorter than nB + 1: 2 frames", 2, 5, "I0 P1"},
        {"shorter than nB + 1: 3 frames", 3, 2, "I0 P1 P2"},
        {"a single frame", 1, 2, "I0"},
        {"BPictures 7 is taken as 5", 7, 7, "I0 P6 B1 B2 B3 B4 B5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto source = enctest::Synthetic(kW, kH, c.frames);
        const auto run = enctest::EncodeSequence(BParams(c.frames, c.bPictures), source, true);
        EXPECT_EQ(Order(run), c.order);
        // Every picture carries its own frame number as TR, except the held first I-picture (0).
        std::vector<uint32_t> expected;
        for (const auto& pic : run.pictures) expected.push_back(static_cast<uint32_t>(pic.frame));
        EXPECT_EQ(TemporalReferences(run.stream), expected);
        for (const auto& pic : run.pictures) {
            const double psnr = testsupport::PlanePsnr(
                pic.recon.data(), source.data() + pic.frame * (kW * kH * 3 / 2), kW * kH);
            EXPECT_GT(psnr, 30.0) << "frame " << pic.frame << " compared with its own input";
        }
    }
}

TEST(BPictures, CallResultsBytesAndFlushCalls) {
    const auto source = enctest::Synthetic(kW, kH, 3);
    const size_t fb = enctest::FrameBytes(kW, kH);
    EncoderParams p = BParams(3, 5);
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    uint32_t intra = 77, bytes = 9;
    // Calls 0 and 1 only store their pictures: result f, no bytes, I flag untouched.
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(EncodeFrame(*e, f, f == 0, &intra, source.data() + f * fb, &bytes), f);
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(intra, 77u);
        ReconstructedPicture rec;
        EXPECT_FALSE(EncoderLastReconstruction(*e, &rec));
    }
    // The flush codes I0, then P1 (later than the last anchor), then finds empty slots.
    const int expectedType[] = {kPictureI, kPictureP, -1, -1, -1};
    for (int k = 0; k < 5; ++k) {
        bytes = 9;
        ASSERT_EQ(EncoderFlushFrame(*e, &bytes), 0);
        EXPECT_EQ(EncoderGetStats(*e).ByteCount, bytes);
        ReconstructedPicture rec;
        if (expectedType[k] < 0) {
            EXPECT_EQ(bytes, 0u) << k;
            EXPECT_FALSE(EncoderLastReconstruction(*e, &rec));
        } else {
            EXPECT_GT(bytes, 0u) << k;
            ASSERT_TRUE(EncoderLastReconstruction(*e, &rec));
            EXPECT_EQ(rec.type, expectedType[k]);
            EXPECT_EQ(rec.frame, k);
        }
    }
}

TEST(BPictures, IntraRequestAtBPositionTurnsNextAnchorIntoI) {
    EncoderParams p = BParams(10, 2);
    p.IFramePeriod = 4;  // requests at frames 0, 4 (a B position) and 8 (another B position)
    const auto source = enctest::Synthetic(kW, kH, 10);
    const auto run = enctest::EncodeSequence(p, source, true);
    EXPECT_EQ(Order(run), "I0 P3 B1 B2 I6 B4 B5 I9 B7 B8");
    for (const auto& pic : run.pictures) EXPECT_EQ(pic.isIntra, pic.type == kPictureI ? 1u : 0u) << pic.frame;

    // A request that is still waiting when the input ends turns the first flushed anchor into I.
    p = BParams(6, 2);
    p.IFramePeriod = 5;
    EXPECT_EQ(Order(enctest::EncodeSequence(p, enctest::Synthetic(kW, kH, 6), true)), "I0 P3 B1 B2 I4 P5");
}

TEST(BPictures, HeaderAndQuantiser) {
    EncoderParams p = BParams(4, 1);
    p.UseDeblockFilter = 1;
    p.PQuantizer = 10;
    p.IQuantizer = 12;
    p.BQuantizer = 20;  // not read: B-pictures start from PQuantizer
    const auto run = enctest::EncodeSequence(p, enctest::Synthetic(kW, kH, 4), true);
    ASSERT_EQ(Order(run), "I0 P2 B1 P3");
    BitReader r(run.stream);
    for (const auto& pic : run.pictures) {
        SCOPED_TRACE(pic.frame);
        r.AlignToByte();
        const enctest::Header h = enctest::ReadHeader(r);
        ASSERT_TRUE(h.plus);
        EXPECT_EQ(h.PictureType(), static_cast<uint32_t>(pic.type));
        EXPECT_EQ(h.OppBit(9), pic.type != kPictureB) << "deblocking bit";
        EXPECT_EQ(h.quant, pic.type == kPictureI ? 12u : 10u);
        if (pic.type == kPictureB) {
            EXPECT_EQ(h.elnum, 1u);
            EXPECT_EQ(h.rlnum, 1u);
        }
        // Skip to the next picture start code.
        while (r.Position() + 22 < r.Size() && r.Peek(22) != 0x20) {
            r.Get(1);
            r.AlignToByte();
        }
    }
}

// A B-picture identical to its forward reference: every macroblock is COD 0, MBTYPE 100 and a
// zero MVD (its neighbours' vectors are zero too), with no coefficients.
TEST(BPictures, IdenticalToReferenceHasNoCoefficients) {
    const size_t fb = enctest::FrameBytes(kW, kH);
    for (int withAic = 0; withAic < 2; ++withAic) {
        SCOPED_TRACE(withAic);
        EncoderParams p = BParams(3, 1);
        p.UseAdvIntraCoding = withAic;
        // First pass: the reconstruction of I0; the second pass codes it as frame 1.
        auto source = enctest::Synthetic(kW, kH, 3);
        const auto first = enctest::EncodeSequence(p, source, true);
        ASSERT_EQ(Order(first), "I0 P2 B1");
        std::copy(first.pictures[0].recon.begin(), first.pictures[0].recon.end(), source.begin() + fb);

        auto e = enctest::OpenEncoder(p);
        ASSERT_TRUE(e);
        uint32_t bytes = 0;
        for (int f = 0; f < 3; ++f)
            ASSERT_EQ(EncodeFrame(*e, f, f == 0, nullptr, source.data() + f * fb, &bytes), f);
        ASSERT_EQ(EncoderFlushFrame(*e, &bytes), 0);
        ReconstructedPicture rec;
        ASSERT_TRUE(EncoderLastReconstruction(*e, &rec));
        ASSERT_EQ(rec.type, kPictureB);
        EXPECT_EQ(enctest::CropRecon(rec, kW, kH), first.pictures[0].recon);
        EXPECT_EQ(EncoderGetStats(*e).SnrY, 0.0);  // ComputeSnr is off

        BitReader r(EncoderGetStats(*e).OutputBuffer, bytes);
        const enctest::Header h = enctest::ReadHeader(r);
        EXPECT_EQ(h.PictureType(), 3u);
        for (int i = 0; i < kMbs; ++i) ASSERT_EQ(r.Get(6), 0x13u) << "macroblock " << i;  // 0 100 1 1
        EXPECT_LT(bytes * 8 - r.Position(), 8u);
    }
}

TEST(BPictures, ReconstructionIsOptionalAndLeavesTheStreamAlone) {
    const auto source = enctest::Synthetic(kW, kH, 7, 5);
    EncoderParams p = BParams(7, 2);
    p.ComputeSnr = 1;
    p.UseAdvIntraCoding = 1;  // intra macroblocks of B-pictures take the Annex I path too
    const auto with = enctest::EncodeSequence(p, source, true);
    p.ReconstructBPictures = 0;
    const auto without = enctest::EncodeSequence(p, source, false);
    EXPECT_EQ(with.stream, without.stream);
    ASSERT_EQ(with.pictures.size(), 7u);
    const size_t fb = enctest::FrameBytes(kW, kH);
    for (const auto& pic : with.pictures) {
        // The SNR of each picture is measured against that picture's own input.
        const double expected =
            testsupport::PlanePsnr(pic.recon.data(), source.data() + pic.frame * fb, kW * kH);
        EXPECT_NEAR(pic.snrY, expected, 1e-9) << pic.frame;
    }

    // Without the option a B-picture call reports no reconstruction and keeps the SNR values.
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    uint32_t bytes = 0;
    for (int f = 0; f <= 4; ++f) EncodeFrame(*e, f, f == 0, nullptr, source.data() + f * fb, &bytes);
    const double pSnr = EncoderGetStats(*e).SnrY;                                  // after P3
    ASSERT_EQ(EncodeFrame(*e, 5, 0, nullptr, source.data() + 5 * fb, &bytes), 5);  // codes B2
    EXPECT_GT(bytes, 0u);
    ReconstructedPicture rec;
    EXPECT_FALSE(EncoderLastReconstruction(*e, &rec));
    EXPECT_EQ(EncoderGetStats(*e).SnrY, pSnr);
}

TEST(BPictures, UnplaceableCallsAreRefused) {
    const auto source = enctest::Synthetic(kW, kH, 1);
    auto e = enctest::OpenEncoder(BParams(10, 2));
    ASSERT_TRUE(e);
    uint32_t bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 0, 1, nullptr, source.data(), &bytes), 0);
    // Frame 3 is the first anchor, but frames 1 and 2 never came: I0 is still held.
    EXPECT_EQ(EncodeFrame(*e, 3, 0, nullptr, source.data(), &bytes), -1);
    EXPECT_EQ(bytes, 0u);
    // The schedule is unchanged: the caller can go on with frame 1.
    EXPECT_EQ(EncodeFrame(*e, 1, 0, nullptr, source.data(), &bytes), 1);
}
