// Bit reader, variable-length decoders (checked against the encoder's own code tables), IDCT
// against the encoder's IDCT, and the sample-level rules of motion compensation.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "R263AVO/Idct.h"
#include "R263AVO/OutPutCoefficients.h"
#include "R263IRI/FrameOperations.h"
#include "R263IRI/GetFunctions.h"
#include "R263IRI/Idct.h"
#include "R263IRI/PpicD.h"
#include "R263IRI/ReadFunctions.h"
#include "R263IRI/VlcTable.h"
#include "StreamBits.h"

namespace r263iri {
namespace {

using decodertest::Bits;

TEST(BitReader, ShowBitsAcrossBytesAndPastTheEnd) {
    const uint8_t data[2] = {0b10100101, 0b11000011};
    BitReader r;
    r.Reset(data, 2);
    r.SkipBits(5);
    EXPECT_EQ(r.ShowBits(3), 0b101u);
    EXPECT_EQ(r.ShowBits(4), 0b1011u);
    EXPECT_EQ(r.ShowBits(11), 0b10111000011u);
    EXPECT_EQ(r.ShowBits(16), 0b1011100001100000u);  // zeros past the end
    r.ByteAlign();
    EXPECT_EQ(r.byteIndex, 1u);
    r.ByteAlign();  // at a boundary: nothing consumed
    EXPECT_EQ(r.byteIndex, 1u);
    EXPECT_EQ(r.bitIndex, 0u);
    EXPECT_EQ(r.GetBits(8), 0b11000011u);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.GetBits(25), 0u);
    r.SkipBits(1000000);  // parks at the end
    EXPECT_EQ(r.byteIndex, 2u);
    EXPECT_EQ(r.BitsLeft(), 0u);
}

TEST(BitReader, PictureStartCodeSearch) {
    // A GOB start code first (passed over), then a picture start code at bit 3 of a byte.
    Bits b;
    b.Put(0, 16).Put(1, 1).Put(3, 5).Put(0x5, 3).Put(0, 16).Put(1, 1).Put(0, 5).Put(0xAB, 8);
    BitReader r;
    r.Reset(b.bytes.data(), b.bytes.size());
    ASSERT_TRUE(SearchPictureStartCode(r));
    EXPECT_EQ(r.GetBits(8), 0xABu);
    EXPECT_FALSE(SearchPictureStartCode(r));
    EXPECT_TRUE(r.AtEnd());
}

TEST(Vlc, TablesAreTheEncodersTables) {
    // Every code the encoder can write decodes to what it stands for.
    for (int type = 3; type <= 4; ++type) {
        for (int cbpc = 0; cbpc < 4; ++cbpc) {
            Bits b;
            b.Put(r263avo::McbpcICodes[type - 3][cbpc]);
            BitReader r;
            r.Reset(b.bytes.data(), b.bytes.size());
            EXPECT_EQ(GetMcbpcIntra(r), type | cbpc << 4);
            EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, b.count);
        }
    }
    for (int type = 0; type <= 5; ++type) {
        for (int cbpc = 0; cbpc < 4; ++cbpc) {
            Bits b;
            b.Put(r263avo::McbpcPCodes[type][cbpc]);
            BitReader r;
            r.Reset(b.bytes.data(), b.bytes.size());
            EXPECT_EQ(GetMcbpcInter(r), type | cbpc << 4) << type << " " << cbpc;
            EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, b.count);
        }
    }
    for (int cbpy = 0; cbpy < 16; ++cbpy) {
        Bits b;
        b.Put(r263avo::CbpyCodes[cbpy]);
        BitReader r;
        r.Reset(b.bytes.data(), b.bytes.size());
        EXPECT_EQ(GetCbpy(r), cbpy);
    }
    for (int mvd = -32; mvd <= 31; ++mvd) {
        Bits b;
        const int magnitude = mvd < 0 ? -mvd : mvd;
        b.Put(r263avo::MvdCodes[magnitude]);
        if (mvd != 0) b.Put(mvd < 0 ? 1 : 0, 1);
        BitReader r;
        r.Reset(b.bytes.data(), b.bytes.size());
        EXPECT_EQ(GetMvd(r), mvd);
        EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, b.count);
    }
    for (const r263avo::RunLevelCode& c : r263avo::TcoefCodes()) {
        for (int sign = 0; sign < 2; ++sign) {
            Bits b;
            b.Put(c.vlc).Put(sign, 1);
            BitReader r;
            r.Reset(b.bytes.data(), b.bytes.size());
            TcoefEvent ev;
            ASSERT_TRUE(GetTcoef(r, false, &ev));
            EXPECT_EQ(ev.last, c.last);
            EXPECT_EQ(ev.run, c.run);
            EXPECT_EQ(ev.level, sign ? -c.level : c.level);
            EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, b.count);
        }
    }
}

// A table split after its leading zeros answers every window of bits as the direct table does:
// codes on both sides of the split, the longest ones, and patterns that start no code.
constexpr CodeDef kSplitCodes[] = {{"1", 1},         {"011", 2},          {"0101", 3},
                                   {"0001", 4},      {"00101", 5},        {"001001", 6},
                                   {"0000111", 7},   {"0000110", 8},      {"000001011", 9},
                                   {"0000001", 10},  {"0000000001", 11},  {"000000000010", 12},
                                   {"0000000000011", 13}};
constexpr auto kSplitDirect = BuildVlcLut<13>(kSplitCodes);
constexpr auto kSplit = BuildSplitVlcLut<6, 4, 13>(kSplitCodes);

TEST(Vlc, SplitTablesAnswerAsTheDirectTable) {
    for (uint32_t window = 0; window < (1u << 13); ++window) {
        const VlcEntry direct = kSplitDirect[window], split = kSplit.Find(window);
        ASSERT_EQ(split.length, direct.length) << window;
        if (direct.length != 0) {
            ASSERT_EQ(split.value, direct.value) << window;
        }
    }
}

TEST(Vlc, MvdExamplesAndWrap) {
    struct Case {
        uint32_t code;
        int length, value;
    } cases[] = {{0b1, 1, 0}, {0b010, 3, 1}, {0b011, 3, -1}, {0b0000000000101, 13, -32}};
    for (const Case& c : cases) {
        Bits b;
        b.Put(c.code, c.length);
        BitReader r;
        r.Reset(b.bytes.data(), b.bytes.size());
        EXPECT_EQ(GetMvd(r), c.value);
    }
    // Thirteen zero bits and 0000 0000 0010 0 are no MVD code: a zero difference, nothing read.
    for (uint32_t pattern : {0u, 0b0000000000100u}) {
        Bits b;
        b.Put(pattern, 13).Put(0b1, 1);
        BitReader r;
        r.Reset(b.bytes.data(), b.bytes.size());
        EXPECT_EQ(GetMvd(r), 0);
        EXPECT_EQ(r.byteIndex * 8 + r.bitIndex, 0u);
    }
    EXPECT_EQ(WrapVector(10, 31), -23);
    EXPECT_EQ(WrapVector(-20, -20), 24);
    EXPECT_EQ(WrapVector(0, -32), -32);
    EXPECT_EQ(PredictComponent(3, 7, -2, true), 3);
    EXPECT_EQ(PredictComponent(3, kMvUnavailable, kMvUnavailable, false), 3);
}

TEST(Vlc, EscapesAndNoCode) {
    // ESCAPE, LAST 1, RUN 5, LEVEL 1000 0000: -128 without Annex T, extended level with it.
    Bits plain;
    plain.Put(0b0000011, 7).Put(1, 1).Put(5, 6).Put(0x80, 8);
    BitReader r;
    r.Reset(plain.bytes.data(), plain.bytes.size());
    TcoefEvent ev;
    ASSERT_TRUE(GetTcoef(r, false, &ev));
    EXPECT_EQ(ev.last, 1);
    EXPECT_EQ(ev.run, 5);
    EXPECT_EQ(ev.level, -128);
    for (int level : {200, -200, 1023, -1023, 128, -129}) {
        Bits b;
        b.Put(0b0000011, 7).Put(0, 1).Put(0, 6).Put(0x80, 8);
        b.Put(static_cast<uint32_t>(((level << 6) | ((level >> 5) & 63)) & 2047), 11);
        r.Reset(b.bytes.data(), b.bytes.size());
        ASSERT_TRUE(GetTcoef(r, true, &ev));
        EXPECT_EQ(ev.level, level);
    }
    const uint8_t zeros[2] = {0, 0};
    r.Reset(zeros, 2);
    EXPECT_FALSE(GetTcoef(r, false, &ev));
    EXPECT_EQ(r.byteIndex, 0u);
    EXPECT_EQ(GetMcbpcIntra(r), kInvalidCode);
    EXPECT_EQ(GetCbpy(r), kInvalidCode);
}

TEST(Vlc, Dquant) {
    struct Case {
        uint32_t bits;
        int length, quant, mq, expected;
    } cases[] = {
        {0b00, 2, 8, 0, 7},   {0b01, 2, 8, 0, 6},   {0b10, 2, 8, 0, 9},      {0b11, 2, 30, 0, 31},
        {0b01, 2, 1, 0, 1},   {0b10, 2, 1, 1, 3},   {0b10, 2, 10, 1, 9},     {0b10, 2, 25, 1, 22},
        {0b11, 2, 28, 1, 31}, {0b11, 2, 31, 1, 26}, {0b011001, 6, 4, 1, 25},
    };
    for (const Case& c : cases) {
        Bits b;
        b.Put(c.bits, c.length);
        BitReader r;
        r.Reset(b.bytes.data(), b.bytes.size());
        EXPECT_EQ(GetDquant(r, c.mq != 0, c.quant), c.expected) << c.bits << " at " << c.quant;
    }
    EXPECT_EQ(ChromaQuant(31), 15);
    EXPECT_EQ(ChromaQuant(8), 7);
}

TEST(Idct, SameAsTheEncodersOnRandomBlocks) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20000; ++trial) {
        int16_t a[64] = {}, b[64];
        const int nonzero = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < nonzero; ++i) {
            const int range = trial % 2 ? 4096 : 512;
            a[rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % range) - range / 2);
        }
        std::memcpy(b, a, sizeof a);
        IdctBlock(a);
        r263avo::IdctBlockC(b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "trial " << trial;
    }
}

TEST(Idct, DcBlocksAndClip) {
    int16_t block[64] = {800};
    IdctBlock(block);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 100);
    EXPECT_EQ(ClipSample(250 + 20), 255);
    EXPECT_EQ(ClipSample(5 - 20), 0);
    EXPECT_EQ(ClipSample(-40000), 0);
}

TEST(MotionCompensation, RoundingTypeAndChromaVectors) {
    // A plane whose columns alternate 10 and 11.
    const int w = 16, h = 16;
    std::vector<uint8_t> src(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[y * w + x] = static_cast<uint8_t>(10 + (x & 1));
    uint8_t out[64];
    PredictBlock(src.data(), w, h, 0, 0, 1, 0, 8, 0, out, 8);
    EXPECT_EQ(out[0], 11);
    PredictBlock(src.data(), w, h, 0, 0, 1, 0, 8, 1, out, 8);
    EXPECT_EQ(out[0], 10);

    EXPECT_EQ(ChromaFromFourVectors(4), 1);
    EXPECT_EQ(ChromaFromFourVectors(-4), -1);
    EXPECT_EQ(ChromaFromFourVectors(16), 2);
    EXPECT_EQ(ChromaFromFourVectors(14), 2);
    EXPECT_EQ(ChromaFromFourVectors(2), 0);
    EXPECT_EQ(ChromaFromFourVectors(-19), -3);
    EXPECT_EQ(ChromaFromOneVector(1), 1);
    EXPECT_EQ(ChromaFromOneVector(4), 2);
    EXPECT_EQ(ChromaFromOneVector(-1), -1);
    EXPECT_EQ(ChromaFromOneVector(-4), -2);
}

// Blocks inside the plane, across its edges (the half-sample neighbour one past the last sample
// included) and far outside, for both block sizes: every sample outside repeats the nearest edge
// sample.
TEST(MotionCompensation, VectorsOutsideRepeatTheEdge) {
    const int w = 32, h = 32;
    std::vector<uint8_t> src(w * h);
    for (int i = 0; i < w * h; ++i) src[i] = static_cast<uint8_t>(i * 7);
    auto at = [&](int px, int py) {
        px = px < 0 ? 0 : (px >= w ? w - 1 : px);
        py = py < 0 ? 0 : (py >= h ? h - 1 : py);
        return src[py * w + px];
    };
    for (int size : {8, 16}) {
        for (int x : {-60, -17, -16, -1, 0, 5, w - size - 1, w - size, 40, 100}) {
            for (int y : {-50, -16, -1, 0, 3, h - size - 1, h - size, 47}) {
                for (int half = 0; half < 4; ++half) {
                    const int hx = half & 1, hy = half >> 1;
                    uint8_t out[256];
                    PredictBlock(src.data(), w, h, x, y, hx, hy, size, 0, out, 16);
                    for (int j = 0; j < size; ++j) {
                        for (int i = 0; i < size; ++i) {
                            const int sum = at(x + i, y + j) + at(x + i + hx, y + j) + at(x + i, y + j + hy) +
                                            at(x + i + hx, y + j + hy);
                            ASSERT_EQ(out[j * 16 + i], (sum + 2) >> 2)
                                << "size " << size << " at " << x << "," << y << " half " << hx << hy;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace r263iri
