// Bit writer: byte packing, alignment, counters, the overflow guard and the worst-case size.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "R263AVO/Buffer.h"
#include "EncToolsTestUtil.h"
#include "R263AVO/EncodeCoefficients.h"

using r263avo::BitWriter;

TEST(BitWriter, StartCodeExampleAndAlignment) {
    uint8_t buf[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    BitWriter bw;
    bw.Reset(buf, sizeof buf);
    bw.PutBits(17, 1);
    bw.PutBits(5, 0);
    EXPECT_EQ(22, bw.TotalBits());
    EXPECT_EQ(2u, bw.ByteCount());
    EXPECT_EQ(0x00, buf[0]);
    EXPECT_EQ(0x00, buf[1]);
    EXPECT_EQ(0xAA, buf[2]) << "the pending byte is not stored before it is complete";
    EXPECT_EQ(2, bw.AlignToByte());
    EXPECT_EQ(3u, bw.ByteCount());
    EXPECT_EQ(0x80, buf[2]);
    EXPECT_EQ(24, bw.TotalBits());
    EXPECT_EQ(0, bw.AlignToByte());
    EXPECT_EQ(3u, bw.ByteCount());
}

TEST(BitWriter, WritesOnlyTheLowBits) {
    enctools_test::BitCapture cap;
    cap.bw.PutBits(3, 255);
    cap.bw.PutBits(0, 0xFFFFFFFF);
    EXPECT_EQ("111", cap.Bits());

    uint8_t buf[4] = {};
    BitWriter bw;
    bw.Reset(buf, sizeof buf);
    bw.PutBits(32, 0xDEADBEEF);
    ASSERT_EQ(4u, bw.ByteCount());
    EXPECT_EQ(0xDE, buf[0]);
    EXPECT_EQ(0xAD, buf[1]);
    EXPECT_EQ(0xBE, buf[2]);
    EXPECT_EQ(0xEF, buf[3]);
}

TEST(BitWriter, MatchesBitSerialModelOnRandomFields) {
    std::mt19937 rng(12345);
    std::vector<uint8_t> buf(4096);
    BitWriter bw;
    bw.Reset(buf.data(), buf.size());
    std::vector<int> model;  // expected bits
    for (int i = 0; i < 2000; ++i) {
        const int n = static_cast<int>(rng() % 33);
        const uint32_t v = rng();
        bw.PutBits(n, v);
        for (int b = n - 1; b >= 0; --b) model.push_back((v >> b) & 1);
        if (rng() % 50 == 0) {
            const int pad = bw.AlignToByte();
            EXPECT_EQ((8 - static_cast<int>(model.size() % 8)) % 8, pad);
            model.resize(model.size() + pad, 0);
        }
    }
    ASSERT_EQ(static_cast<int>(model.size()), bw.TotalBits());
    bw.AlignToByte();
    EXPECT_EQ((model.size() + 7) / 8, bw.ByteCount());
    for (size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(model[i], (buf[i / 8] >> (7 - i % 8)) & 1) << "bit " << i;
    }
}

TEST(BitWriter, ByteCountRestartsButTotalBitsDoNot) {
    std::vector<uint8_t> buf(64);
    BitWriter bw;
    bw.Reset(buf.data(), buf.size());
    bw.PutBits(20, 0xABCDE);
    bw.AlignToByte();
    EXPECT_EQ(3u, bw.ByteCount());
    bw.ResetByteCount();
    bw.PutBits(8, 0x5A);
    EXPECT_EQ(1u, bw.ByteCount());
    EXPECT_EQ(0x5A, buf[0]) << "a new call's bytes start at the buffer start";
    EXPECT_EQ(32, bw.TotalBits());
}

TEST(BitWriter, FullBufferDropsBytesAndReportsIt) {
    uint8_t buf[4] = {0, 0, 0x77, 0x77};
    BitWriter bw;
    bw.Reset(buf, 2);
    bw.PutBits(16, 0xFFFF);
    EXPECT_FALSE(bw.Overflowed());
    bw.PutBits(16, 0xFFFF);
    EXPECT_TRUE(bw.Overflowed());
    EXPECT_EQ(2u, bw.ByteCount());
    EXPECT_EQ(0x77, buf[2]);
    EXPECT_EQ(0x77, buf[3]);
    EXPECT_EQ(32, bw.TotalBits());
    bw.Reset(buf, 2);
    EXPECT_FALSE(bw.Overflowed());
}

// The bound must hold for the largest picture the block writers can produce: every
// coefficient of every block an Annex T extended escape.
TEST(BitWriter, WorstCasePictureBytesCoversAllEscapedPicture) {
    EXPECT_GT(r263avo::WorstCasePictureBytes(1), 6u * 64 * 33 / 8);
    EXPECT_EQ(r263avo::WorstCasePictureBytes(0), r263avo::WorstCasePictureBytes(-5));
    for (int mbs : {1, 99, 396}) {
        const size_t bound = r263avo::WorstCasePictureBytes(mbs);
        std::vector<uint8_t> buf(bound);
        BitWriter bw;
        bw.Reset(buf.data(), buf.size());
        bw.PutBits(22, 32);  // PSC
        bw.PutBits(200, 0);  // a generous picture header
        for (int mb = 0; mb < mbs; ++mb) {
            bw.AlignToByte();
            bw.PutBits(55, 1);                           // slice header with stuffing
            bw.PutBits(1 + 13 + 2 + 6 + 6 + 8 * 13, 0);  // longest macroblock header
            for (int b = 0; b < 6; ++b) {
                int16_t levels[64];
                for (int i = 0; i < 64; ++i) levels[i] = static_cast<int16_t>(i % 2 ? -1000 : 1000);
                levels[0] = 100;
                if (b % 2) {
                    r263avo::CodeIntraBlock(bw, levels, true);
                } else {
                    r263avo::CodeInterBlock(bw, levels, true);
                }
            }
        }
        bw.AlignToByte();
        EXPECT_FALSE(bw.Overflowed()) << mbs << " macroblocks";
        EXPECT_LE(static_cast<size_t>(bw.TotalBits() / 8), bound);
    }
}
