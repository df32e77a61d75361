// I- and P-picture coders: macroblock layer of simple pictures, GOB headers, skipped
// macroblocks, vector prediction, input edge extension, worst-case content.
#include <gtest/gtest.h>

#include <random>

#include "EncTestUtil.h"
#include "R263AVO/EncoderState.h"
#include "R263AVO/Ppic.h"

using namespace r263avo;
using enctest::BitReader;

namespace {

constexpr int kW = 176, kH = 144, kMbs = 99;

std::vector<uint8_t> Flat(int w, int h, uint8_t value) {
    return std::vector<uint8_t>(enctest::FrameBytes(w, h), value);
}

// A picture with strong texture in every macroblock.
std::vector<uint8_t> Ramp(int w, int h) {
    std::vector<uint8_t> p(enctest::FrameBytes(w, h));
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) p[j * w + i] = static_cast<uint8_t>((i * 13 + j * 7) & 255);
    for (size_t k = static_cast<size_t>(w) * h; k < p.size(); ++k) p[k] = static_cast<uint8_t>(k * 5 & 255);
    return p;
}

std::vector<uint8_t> LastRecon(const Encoder& e, int w, int h) {
    ReconstructedPicture rec;
    EXPECT_TRUE(EncoderLastReconstruction(e, &rec));
    return enctest::CropRecon(rec, w, h);
}

// Reads an intra macroblock without coefficients: MCBPC (given code), CBPY 0011, six INTRADC.
void ExpectDcOnlyIntraMacroblock(BitReader& r, uint32_t mcbpc, int mcbpcBits, uint32_t dc) {
    EXPECT_EQ(r.Get(mcbpcBits), mcbpc);
    EXPECT_EQ(r.Get(4), 3u);  // CBPY 0000 (intra)
    for (int b = 0; b < 6; ++b) EXPECT_EQ(r.Get(8), dc);
}

void ExpectZeroStuffingToEnd(BitReader& r, size_t bytes) {
    EXPECT_LT(bytes * 8 - r.Position(), 8u);
    while (r.Position() < bytes * 8) EXPECT_EQ(r.Get(1), 0u);
}

}  // namespace

TEST(IPicture, FlatGreyHasOnlyIntraDc) {
    auto e = enctest::OpenEncoder(enctest::BaseParams(2, kW, kH, 1));
    ASSERT_TRUE(e);
    const auto grey = Flat(kW, kH, 128);
    uint32_t intra = 0, bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 0, 1, &intra, grey.data(), &bytes), 0);
    EXPECT_EQ(intra, 1u);
    BitReader r(EncoderGetStats(*e).OutputBuffer, bytes);
    const enctest::Header h = enctest::ReadHeader(r);
    EXPECT_EQ(h.PictureType(), 0u);
    for (int i = 0; i < kMbs; ++i) ExpectDcOnlyIntraMacroblock(r, 1, 1, 255);  // INTRADC 128 is sent as 255
    ExpectZeroStuffingToEnd(r, bytes);
    EXPECT_EQ(LastRecon(*e, kW, kH), grey);
}

TEST(PPicture, IdenticalToReferenceIsAllSkipped) {
    for (int speed = 1; speed <= 5; speed += 4) {
        SCOPED_TRACE(speed);
        EncoderParams p = enctest::BaseParams(2, kW, kH, 2);
        p.Speed = speed;
        auto e = enctest::OpenEncoder(p);
        ASSERT_TRUE(e);
        const auto source = enctest::Synthetic(kW, kH, 1);
        uint32_t intra = 0, bytes = 0;
        ASSERT_EQ(EncodeFrame(*e, 0, 1, &intra, source.data(), &bytes), 0);
        const auto recon = LastRecon(*e, kW, kH);
        ASSERT_EQ(EncodeFrame(*e, 1, 0, &intra, recon.data(), &bytes), 1);
        EXPECT_EQ(intra, 0u);
        BitReader r(EncoderGetStats(*e).OutputBuffer, bytes);
        EXPECT_EQ(enctest::ReadHeader(r).PictureType(), 1u);
        for (int i = 0; i < kMbs; ++i) EXPECT_EQ(r.Get(1), 1u) << "COD of macroblock " << i;
        ExpectZeroStuffingToEnd(r, bytes);
        EXPECT_EQ(LastRecon(*e, kW, kH), recon);
    }
}

TEST(PPicture, SceneCutToFlatIsAllIntra) {
    auto e = enctest::OpenEncoder(enctest::BaseParams(2, kW, kH, 2));
    ASSERT_TRUE(e);
    const auto ramp = Ramp(kW, kH);
    const auto grey = Flat(kW, kH, 128);
    uint32_t intra = 0, bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 0, 1, &intra, ramp.data(), &bytes), 0);
    ASSERT_EQ(EncodeFrame(*e, 1, 0, &intra, grey.data(), &bytes), 1);
    BitReader r(EncoderGetStats(*e).OutputBuffer, bytes);
    EXPECT_EQ(enctest::ReadHeader(r).PictureType(), 1u);
    for (int i = 0; i < kMbs; ++i) {
        EXPECT_EQ(r.Get(1), 0u);                    // COD
        ExpectDcOnlyIntraMacroblock(r, 3, 5, 255);  // MCBPC 00011: INTRA, CBPC 00
    }
    ExpectZeroStuffingToEnd(r, bytes);
    EXPECT_EQ(LastRecon(*e, kW, kH), grey);
}

TEST(PPicture, MotionVectorPrediction) {
    std::vector<MbRecord> above(4);
    MbRecord left;
    auto rec = [](int hx, int hy) {
        MbRecord r;
        r.hx = hx;
        r.hy = hy;
        return r;
    };
    above[0] = above[1] = above[2] = rec(kMvUnavailable, kMvUnavailable);
    left = rec(6, -4);
    MotionVector mv = PredictMotionVector(above.data(), left, 1);
    EXPECT_EQ(mv.x, 6);
    EXPECT_EQ(mv.y, -4);

    above[0] = rec(2, 10);
    above[1] = rec(-8, 3);
    above[2] = rec(4, -1);
    above[3] = MbRecord{};                            // spare
    mv = PredictMotionVector(above.data(), left, 0);  // median of (6, 2, -8) and (-4, 10, 3)
    EXPECT_EQ(mv.x, 2);
    EXPECT_EQ(mv.y, 3);
    mv = PredictMotionVector(above.data(), left, 2);  // above-right is the spare (0, 0)
    EXPECT_EQ(mv.x, 4);
    EXPECT_EQ(mv.y, -1);
}

TEST(GobHeaders, QcifPicturesCarryGobsOneToEight) {
    EncoderParams p = enctest::BaseParams(2, kW, kH, 3);
    p.GOBMode = 1;
    const auto source = enctest::Synthetic(kW, kH, 3);
    const auto run = enctest::EncodeSequence(p, source);
    ASSERT_EQ(run.pictures.size(), 3u);
    size_t offset = 0;
    for (const auto& pic : run.pictures) {
        // Start codes are byte aligned: look for 16 zero bits and a 1 at every byte.
        std::vector<uint32_t> gns;
        BitReader r(run.stream.data() + offset, pic.bytes);
        for (size_t byte = 1; byte + 3 <= pic.bytes; ++byte) {
            r.Seek(byte * 8);
            if (r.Get(17) == 1) gns.push_back(r.Get(5));
        }
        EXPECT_EQ(gns, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
        offset += pic.bytes;
    }
}

TEST(InputCopy, CustomSizeIsEdgeExtended) {
    const int w = 180, h = 100;
    auto e = enctest::OpenEncoder(enctest::BaseParams(6, w, h, 1));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->geo.width, 192);
    EXPECT_EQ(e->geo.height, 112);
    const auto src = enctest::Synthetic(w, h, 1);  // exactly one input picture
    uint32_t intra = 0, bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 0, 1, &intra, src.data(), &bytes), 0);
    const uint8_t* store = e->anchorInput.data();
    const uint8_t* planes[3] = {src.data(), src.data() + w * h, src.data() + w * h + (w / 2) * (h / 2)};
    const size_t offsets[3] = {0, 192 * 112, 192 * 112 + 96 * 56};
    for (int pl = 0; pl < 3; ++pl) {
        const int pw = pl ? w / 2 : w, ph = pl ? h / 2 : h, cw = pl ? 96 : 192, chh = pl ? 56 : 112;
        for (int j = 0; j < chh; ++j)
            for (int i = 0; i < cw; ++i)
                ASSERT_EQ(store[offsets[pl] + j * cw + i],
                          planes[pl][std::min(j, ph - 1) * pw + std::min(i, pw - 1)])
                    << "plane " << pl << " at " << i << "," << j;
    }
}

// The largest format full of noise: the I-picture is far larger than one raw picture.
TEST(WorstCase, NoiseIn16Cif) {
    const int w = 1408, h = 1152;
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(enctest::FrameBytes(w, h));
    for (auto& v : noise) v = static_cast<uint8_t>(rng());
    EncoderParams p = enctest::BaseParams(5, w, h, 1);
    p.IQuantizer = 5;
    p.UseModifiedQuant = 1;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    uint32_t intra = 0, bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 0, 1, &intra, noise.data(), &bytes), 0);
    EXPECT_GT(bytes, noise.size());
    EXPECT_LE(bytes, e->output.size());
    EXPECT_FALSE(e->writer.Overflowed());
}

// Content that makes every level large must fit the output buffer, with or without Annex T, and
// the schedule must go on afterwards.
TEST(WorstCase, NoiseAndCheckerboardAtQuantiserFive) {
    const int w = 352, h = 288;
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(enctest::FrameBytes(w, h) * 2);
    for (auto& v : noise) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> checker(enctest::FrameBytes(w, h) * 2);
    for (size_t k = 0; k < checker.size(); ++k) {
        const size_t f = k / enctest::FrameBytes(w, h);
        const size_t i = k % enctest::FrameBytes(w, h);
        checker[k] = ((i + i / w + f) & 1) ? 255 : 0;
    }
    for (int mq = 0; mq <= 1; ++mq) {
        for (const auto* seq : {&noise, &checker}) {
            EncoderParams p = enctest::BaseParams(3, w, h, 2);
            p.PQuantizer = p.IQuantizer = 5;
            p.UseModifiedQuant = mq;
            p.GOBMode = 1;
            auto e = enctest::OpenEncoder(p);
            ASSERT_TRUE(e);
            for (int f = 0; f < 2; ++f) {
                uint32_t intra = 0, bytes = 0;
                ASSERT_EQ(
                    EncodeFrame(*e, f, f == 0, &intra, seq->data() + f * enctest::FrameBytes(w, h), &bytes),
                    f);
                if (seq == &noise && f == 0) {
                    EXPECT_GT(bytes, enctest::FrameBytes(w, h));
                }
                EXPECT_LE(bytes, e->output.size());
                EXPECT_FALSE(e->writer.Overflowed());
            }
        }
    }
}
