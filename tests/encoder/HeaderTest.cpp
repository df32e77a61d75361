// Picture headers, GOB headers and the coded geometry.
#include <gtest/gtest.h>

#include "EncTestUtil.h"
#include "R263AVO/EncoderState.h"
#include "R263AVO/PictureCoding.h"
#include "R263AVO/PictureHeader.h"
#include "R263AVO/Slice_Annex_K.h"

using namespace r263avo;
using enctest::BitReader;
using enctest::Header;

namespace {

struct Written {
    std::vector<uint8_t> bytes;
    int bits = 0;
};

Written WriteHeader(const PictureHeaderConfig& c, int type, int tr, int quant) {
    Written w;
    w.bytes.assign(64, 0);
    BitWriter bw;
    bw.Reset(w.bytes.data(), w.bytes.size());
    WritePictureHeader(bw, c, type, tr, quant);
    w.bits = bw.TotalBits();
    bw.AlignToByte();
    return w;
}

// The first picture header of a one-frame encoding.
Header FirstHeader(const EncoderParams& p) {
    const auto source = enctest::Synthetic(p.Width, p.Height, 1);
    EncoderParams q = p;
    q.EndFrame = 0;
    const auto run = enctest::EncodeSequence(q, source);
    BitReader r(run.stream);
    return enctest::ReadHeader(r);
}

}  // namespace

TEST(PictureHeader, PlainPtypeForCifWithoutOptions) {
    PictureHeaderConfig c;
    c.sourceFormat = 3;
    ASSERT_FALSE(NeedsPlusPtype(0, false, false, false, false, 3));
    const Written w = WriteHeader(c, kPictureP, 7, 12);
    EXPECT_EQ(w.bits, 22 + 8 + 13 + 5 + 1 + 1);
    BitReader r(w.bytes);
    const Header h = enctest::ReadHeader(r);
    EXPECT_EQ(h.psc, 0x20u);  // 17 bits of 1, then five zeros
    EXPECT_EQ(h.tr, 7u);
    EXPECT_FALSE(h.plus);
    EXPECT_EQ(h.ptypeFormat, 3u);  // 011
    EXPECT_EQ(h.codingType, 1u);
    EXPECT_EQ(h.ptypeFlags, 0u);
    EXPECT_EQ(h.quant, 12u);
    EXPECT_EQ(h.cpm, 0u);
    EXPECT_EQ(h.pei, 0u);
}

TEST(PictureHeader, SacAndApFlagsGoToPlainPtype) {
    PictureHeaderConfig c;
    c.sourceFormat = 2;
    c.sacFlag = 1;
    c.apFlag = 1;
    const Written w = WriteHeader(c, kPictureI, 0, 8);
    BitReader r(w.bytes);
    const Header h = enctest::ReadHeader(r);
    EXPECT_EQ(h.codingType, 0u);
    EXPECT_EQ(h.ptypeFlags, 0x6u);  // UMV 0, SAC 1, AP 1, PB 0
}

TEST(PictureHeader, EachOptionSwitchesToPlusPtype) {
    EXPECT_TRUE(NeedsPlusPtype(1, false, false, false, false, 2));
    EXPECT_TRUE(NeedsPlusPtype(0, true, false, false, false, 2));
    EXPECT_TRUE(NeedsPlusPtype(0, false, true, false, false, 2));
    EXPECT_TRUE(NeedsPlusPtype(0, false, false, true, false, 2));
    EXPECT_TRUE(NeedsPlusPtype(0, false, false, false, true, 2));
    EXPECT_TRUE(NeedsPlusPtype(0, false, false, false, false, 6));
    EXPECT_FALSE(NeedsPlusPtype(0, false, false, false, false, 5));
}

TEST(PictureHeader, PlusPtypeFieldsWithModifiedQuant) {
    PictureHeaderConfig c;
    c.sourceFormat = 3;
    c.plusPtype = true;
    c.modifiedQuant = true;
    const Written w = WriteHeader(c, kPictureP, 44, 9);
    EXPECT_EQ(w.bits, 22 + 8 + 8 + 3 + 18 + 9 + 1 + 5 + 1);
    BitReader r(w.bytes);
    const Header h = enctest::ReadHeader(r);
    EXPECT_TRUE(h.plus);
    EXPECT_EQ(h.ufep, 1u);
    EXPECT_EQ(h.OppFormat(), 3u);
    // Format 011, eight feature bits of which only MQ (bit 14) is set, then 1000.
    EXPECT_EQ(h.opptype, (3u << 15) | (1u << 4) | 8u);
    EXPECT_EQ(h.mpptype, (1u << 6) | 1u);  // P, RPR 0, RRU 0, RTYPE 0, 001
    EXPECT_EQ(h.cpm, 0u);
    EXPECT_EQ(h.quant, 9u);
}

TEST(PictureHeader, BPictureHasNoDeblockingBitAndCarriesLayerNumbers) {
    PictureHeaderConfig c;
    c.sourceFormat = 2;
    c.plusPtype = true;
    c.deblock = true;
    const Written p = WriteHeader(c, kPictureP, 1, 9);
    const Written b = WriteHeader(c, kPictureB, 1, 9);
    EXPECT_EQ(b.bits, p.bits + 8);
    BitReader rp(p.bytes), rb(b.bytes);
    EXPECT_TRUE(enctest::ReadHeader(rp).OppBit(9));
    const Header hb = enctest::ReadHeader(rb);
    EXPECT_FALSE(hb.OppBit(9));
    EXPECT_EQ(hb.PictureType(), 3u);
    EXPECT_EQ(hb.quant, 9u);
}

TEST(PictureHeader, EncoderChoosesPtypeByOptions) {
    EncoderParams p = enctest::BaseParams(3, 352, 288, 1);
    Header plain = FirstHeader(p);
    EXPECT_FALSE(plain.plus);
    EXPECT_EQ(plain.ptypeFormat, 3u);
    p.UseModifiedQuant = 1;
    Header mq = FirstHeader(p);
    EXPECT_TRUE(mq.plus);
    EXPECT_EQ(mq.OppFormat(), 3u);
    EXPECT_TRUE(mq.OppBit(14));
    EXPECT_EQ(mq.PictureType(), 0u);
}

TEST(PictureHeader, CustomFormatSizes) {
    struct Case {
        int w, h, codedW, codedH;
        uint32_t pwi, phi;
        int mbaBits, gobRows;
    };
    const Case cases[] = {
        {176, 144, 176, 144, 43, 36, 7, 1}, {180, 100, 192, 112, 44, 25, 7, 1},
        {320, 240, 320, 240, 79, 60, 9, 1}, {2048, 1152, 2048, 1152, 511, 288, 14, 4},
        {174, 142, 176, 144, 43, 36, 7, 1},  // header sizes rounded up to 4
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        Geometry g;
        ASSERT_TRUE(DeriveGeometry(6, c.w, c.h, &g));
        EXPECT_EQ(g.width, c.codedW);
        EXPECT_EQ(g.height, c.codedH);
        EXPECT_EQ(g.mbaBits, c.mbaBits);
        EXPECT_EQ(g.gobRows, c.gobRows);
        if (c.w * c.h > 400 * 400) continue;  // keep the encoding part small
        const Header h = FirstHeader(enctest::BaseParams(6, c.w, c.h, 1));
        EXPECT_TRUE(h.plus);
        EXPECT_EQ(h.OppFormat(), 6u);
        EXPECT_EQ(h.par, 2u);
        EXPECT_EQ(h.pwi, c.pwi);
        EXPECT_EQ(h.phi, c.phi);
    }
}

TEST(PictureHeader, StandardFormatGeometry) {
    struct Case {
        int format, w, h, mbaBits, gobRows;
    };
    const Case cases[] = {{1, 128, 96, 6, 1},
                          {2, 176, 144, 7, 1},
                          {3, 352, 288, 9, 1},
                          {4, 704, 576, 11, 2},
                          {5, 1408, 1152, 13, 4}};
    for (const Case& c : cases) {
        Geometry g;
        ASSERT_TRUE(DeriveGeometry(c.format, c.w, c.h, &g));
        EXPECT_EQ(g.mbaBits, c.mbaBits);
        EXPECT_EQ(g.gobRows, c.gobRows);
        EXPECT_EQ(g.mbCount, c.w * c.h / 256);
        EXPECT_EQ(g.pictureBytes, static_cast<size_t>(c.w) * c.h * 3 / 2);
    }
}

TEST(PictureHeader, CustomGobRowsFollowSignalledLines) {
    EXPECT_EQ(CustomGobRows(100), 1);
    EXPECT_EQ(CustomGobRows(400), 1);
    EXPECT_EQ(CustomGobRows(404), 2);
    EXPECT_EQ(CustomGobRows(800), 2);
    EXPECT_EQ(CustomGobRows(804), 4);
    Geometry g;
    ASSERT_TRUE(DeriveGeometry(6, 176, 392, &g));  // coded 400 lines, signalled 392
    EXPECT_EQ(g.gobRows, 1);
}

TEST(PictureHeader, TemporalReferenceIsFrameModulo256) {
    PictureHeaderConfig c;
    c.sourceFormat = 2;
    const Written w = WriteHeader(c, kPictureP, 300 & 255, 8);
    BitReader r(w.bytes);
    EXPECT_EQ(enctest::ReadHeader(r).tr, 44u);

    // Through the encoder: start at frame 300.
    EncoderParams p = enctest::BaseParams(1, 128, 96, 1);
    p.StartFrame = 300;
    p.EndFrame = 300;
    auto e = enctest::OpenEncoder(p);
    ASSERT_TRUE(e);
    std::vector<uint8_t> pic(enctest::FrameBytes(128, 96), 90);
    uint32_t intra = 0, bytes = 0;
    ASSERT_EQ(EncodeFrame(*e, 300, 1, &intra, pic.data(), &bytes), 300);
    BitReader r2(EncoderGetStats(*e).OutputBuffer, bytes);
    EXPECT_EQ(enctest::ReadHeader(r2).tr, 44u);
}

TEST(GobHeader, Layout) {
    std::vector<uint8_t> bytes(16, 0xff);
    BitWriter bw;
    bw.Reset(bytes.data(), bytes.size());
    bw.PutBits(3, 7);
    WriteGobHeader(bw, 5, 17);
    EXPECT_EQ(bw.TotalBits(), 8 + 17 + 5 + 2 + 5);
    bw.AlignToByte();
    BitReader r(bytes);
    EXPECT_EQ(r.Get(8), 0xe0u);  // the three bits and the zero stuffing
    EXPECT_EQ(r.Get(17), 1u);
    EXPECT_EQ(r.Get(5), 5u);
    EXPECT_EQ(r.Get(2), 0u);
    EXPECT_EQ(r.Get(5), 17u);
}

// Where the GOB headers go: every GOB but the first, GN counting up, motion records reset.
TEST(GobHeader, PlacementByFormat) {
    struct Case {
        int format, w, h, gobs;
    };
    const Case cases[] = {{2, 176, 144, 9}, {3, 352, 288, 18}, {4, 704, 576, 18}, {5, 1408, 1152, 18}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Geometry g;
        ASSERT_TRUE(DeriveGeometry(c.format, c.w, c.h, &g));
        std::vector<uint8_t> out(4096);
        BitWriter bw;
        bw.Reset(out.data(), out.size());
        std::vector<MbRecord> above(g.mbPerRow + 1);
        MbRecord left;
        PictureCoding pc;
        pc.writer = &bw;
        pc.quant = 9;
        pc.mbPerRow = g.mbPerRow;
        pc.mbCount = g.mbCount;
        pc.gobHeaders = true;
        pc.mbPerGob = g.gobRows * g.mbPerRow;
        pc.aboveRecords = above.data();
        pc.leftRecord = &left;
        int counter = 0;
        std::vector<int> headerAt;
        for (int i = 0; i < g.mbCount; ++i) {
            above[0].hx = 5;
            const int before = bw.TotalBits();
            MaybeWriteGobHeader(pc, i, &counter);
            if (bw.TotalBits() != before) {
                headerAt.push_back(i);
                EXPECT_EQ(above[0].hx, kMvUnavailable);
            }
            bw.PutBits(1, 1);  // a macroblock
        }
        ASSERT_EQ(static_cast<int>(headerAt.size()), c.gobs - 1);
        EXPECT_EQ(counter, c.gobs);
        for (size_t n = 0; n < headerAt.size(); ++n) {
            EXPECT_EQ(headerAt[n], static_cast<int>(n + 1) * g.gobRows * g.mbPerRow);
        }
        if (c.format == 4) {
            EXPECT_EQ(headerAt[2], 264);  // GN 3
        }
    }
}
