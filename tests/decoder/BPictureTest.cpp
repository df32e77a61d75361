// B-pictures (Annex O) in hand-built sub-QCIF streams: skipped, backward, bidirectional and direct
// macroblocks against pictures worked out by hand, and the direct-mode vector rule with TR
// wrap-around.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DecodeAll.h"
#include "R263AVO/OutPutCoefficients.h"
#include "R263IRI/BpicD_Annex_O.h"
#include "StreamBits.h"

namespace r263iri {
namespace {

constexpr int kW = 128, kH = 96, kMbs = 48;
constexpr size_t kLuma = kW * kH;

using decodertest::Bits;

// PLUSPTYPE header of a sub-QCIF picture with UFEP 001; picture type 0 I, 1 P, 3 B; `aiv` sets
// the alternative inter VLC.
void Header(Bits& b, int tr, int type, bool aiv = false) {
    b.Align().Put(0x20, 22).Put(static_cast<uint32_t>(tr), 8).Put(0b10000, 5).Put(7, 3).Put(1, 3);
    b.Put(1, 3).Put(aiv ? 0b10 : 0, 11).Put(0b1000, 4);                       // OPPTYPE: sub-QCIF
    b.Put(static_cast<uint32_t>(type), 3).Put(0, 3).Put(0b001, 3).Put(0, 1);  // MPPTYPE, CPM
    if (type == 3) b.Put(1, 4).Put(1, 4);                                     // ELNUM, RLNUM
    b.Put(8, 5).Put(0, 1);                                                    // PQUANT, PEI
}

// The DC of intra macroblock m in the two test pictures (odd and even values, so that averages
// truncate).
int DcA(int m) {
    return 21 + 4 * m;
}
int DcB(int m) {
    return 230 - 3 * m;
}

// An I picture of flat macroblocks (no coefficients): every sample of macroblock m is dc(m).
template <typename Dc>
void IntraPicture(Bits& b, int tr, Dc dc, bool aiv = false) {
    Header(b, tr, 0, aiv);
    for (int m = 0; m < kMbs; ++m) {
        b.Put(1, 1).Put(0b0011, 4);  // MCBPC intra, CBPY none coded
        for (int k = 0; k < 6; ++k) b.Put(static_cast<uint32_t>(dc(m)), 8);
    }
}

uint8_t LumaOf(int x, int y, int (*dc)(int)) {
    return static_cast<uint8_t>(dc((y / 16) * (kW / 16) + x / 16));
}

TEST(BPictures, AllSkippedReproducesThePreviousAnchor) {
    Bits b;
    IntraPicture(b, 0, DcA);
    IntraPicture(b, 2, DcB);
    Header(b, 1, 3);
    for (int m = 0; m < kMbs; ++m) b.Put(1, 1);  // COD 1
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    ASSERT_EQ(out.pictures.size(), 3u);
    EXPECT_EQ(out.pictures[1], out.pictures[0]);  // display order: I0, B1, I2
    EXPECT_EQ(out.pictures[2][0], DcB(0));
}

// Every macroblock of the B picture with one MBTYPE and zero vector differences.
std::vector<uint8_t> DecodeZeroVectorB(uint32_t mbtype, int mbtypeBits, int fwPairs, int bwPairs) {
    Bits b;
    IntraPicture(b, 0, DcA);
    IntraPicture(b, 2, DcB);
    Header(b, 1, 3);
    for (int m = 0; m < kMbs; ++m) {
        b.Put(0, 1).Put(mbtype, mbtypeBits);
        for (int k = 0; k < 2 * (fwPairs + bwPairs); ++k) b.Put(1, 1);  // MVD 0
    }
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    EXPECT_EQ(out.pictures.size(), 3u);
    return out.pictures.size() == 3 ? out.pictures[1] : std::vector<uint8_t>();
}

TEST(BPictures, BackwardZeroVectorCopiesTheCurrentAnchor) {
    const std::vector<uint8_t> pic = DecodeZeroVectorB(0b010, 3, 0, 1);
    ASSERT_FALSE(pic.empty());
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) ASSERT_EQ(pic[y * kW + x], LumaOf(x, y, DcB)) << x << "," << y;
    }
    EXPECT_EQ(pic[kLuma], DcB(0));  // chroma too
}

TEST(BPictures, BidirectionalAveragesBothAnchorsTruncating) {
    const std::vector<uint8_t> pic = DecodeZeroVectorB(0b00100, 5, 1, 1);
    ASSERT_FALSE(pic.empty());
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            ASSERT_EQ(pic[y * kW + x], (LumaOf(x, y, DcA) + LumaOf(x, y, DcB)) / 2) << x << "," << y;
        }
    }
}

TEST(BPictures, DirectVectorRule) {
    // TB = 3, TD = 6 and a vector (5, -5): forward (2, -2), backward (-2, 2).
    EXPECT_EQ(DirectForward(5, 3, 6), 2);
    EXPECT_EQ(DirectForward(-5, 3, 6), -2);
    EXPECT_EQ(DirectBackward(5, 3, 6), -2);
    EXPECT_EQ(DirectBackward(-5, 3, 6), 2);
    EXPECT_EQ(DirectForward(7, 0, 0), 0);  // damaged TRs: no division by zero
    EXPECT_EQ(TemporalDistance(250, 4, 256), 10);
    EXPECT_EQ(TemporalDistance(4, 4, 256), 0);
    EXPECT_EQ(TemporalDistance(1000, 2, 1024), 26);
}

// I (TR t0), P (TR t0 + 6) moving everything 2 samples left with no residual, then B (TR t0 + 3)
// with every macroblock in direct mode: forward vector +1 sample into the I picture, backward
// -1 sample into the P picture, both landing on the I picture's sample x + 1.
void CheckDirect(int t0) {
    Bits b;
    IntraPicture(b, t0 % 256, DcA);
    Header(b, (t0 + 6) % 256, 1);
    for (int m = 0; m < kMbs; ++m) {
        b.Put(0, 1).Put(1, 1).Put(0b11, 2);  // COD 0, MCBPC inter, CBPY none coded
        if (m == 0) {
            b.Put(0b0000110, 7).Put(1, 1);  // MVD (+4, 0): predictor 0 at the first macroblock
        } else {
            b.Put(1, 1).Put(1, 1);  // the median predictor is already (4, 0)
        }
    }
    Header(b, (t0 + 3) % 256, 3);
    for (int m = 0; m < kMbs; ++m) b.Put(0, 1).Put(0b11, 2).Put(0, 1).Put(0b11, 2);  // direct, CBP 0
    b.Align();
    const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
    ASSERT_EQ(out.pictures.size(), 3u);
    const std::vector<uint8_t>& p = out.pictures[2];  // display order: I, P... flushed last
    const std::vector<uint8_t>& bpic = out.pictures[1];
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            ASSERT_EQ(p[y * kW + x], LumaOf(std::min(x + 2, kW - 1), y, DcA)) << "P " << x << "," << y;
            ASSERT_EQ(bpic[y * kW + x], LumaOf(std::min(x + 1, kW - 1), y, DcA)) << "B " << x << "," << y;
        }
    }
}

TEST(BPictures, DirectModeScalesTheNextAnchorsVectors) {
    CheckDirect(0);
}

TEST(BPictures, DirectModeAcrossTheTemporalReferenceWrap) {
    CheckDirect(252);  // I at TR 252, B at 255, P at 2
}

// Under the alternative inter VLC an inter macroblock of a B picture with both chroma blocks coded
// (CBPC 3) keeps the intra meaning of CBPY, as in P pictures; with one chroma block it is inverted
// as usual. The blocks hold one escaped coefficient, which both tables read alike, so the same
// content written without the mode must decode to the same picture.
TEST(BPictures, AlternativeInterVlcCbpyMeaning) {
    struct Case {
        int cbpc;
        uint32_t cbpcCode;
        int cbpcBits;
    };
    for (const Case c : {Case{3, 0b110, 3}, Case{1, 0b10, 2}}) {
        for (int luma : {0, 0b0110, 0b1111}) {
            SCOPED_TRACE(testing::Message() << "CBPC " << c.cbpc << " luma " << luma);
            std::vector<uint8_t> pictures[2];
            for (int aiv = 0; aiv < 2; ++aiv) {
                Bits b;
                IntraPicture(b, 0, DcA, aiv);
                IntraPicture(b, 2, DcB, aiv);
                Header(b, 1, 3, aiv);
                const bool keep = aiv && c.cbpc == 3;
                b.Put(0, 1).Put(0b011, 3).Put(c.cbpcCode, c.cbpcBits);  // backward, coded
                b.Put(r263avo::CbpyCodes[keep ? luma : 15 - luma]);
                b.Put(r263avo::MvdCodes[0]).Put(r263avo::MvdCodes[0]);
                const int coded = (luma << 2) | c.cbpc;
                for (int blk = 0; blk < 6; ++blk) {
                    if (coded & (32 >> blk))
                        b.Put(r263avo::kEscapeCode).Put(1, 1).Put(blk, 6).Put(256 - 3, 8);
                }
                for (int m = 1; m < kMbs; ++m) b.Put(1, 1);
                b.Align();
                const decodertest::DecodedStream out = decodertest::DecodeAll(b.bytes);
                ASSERT_EQ(out.pictures.size(), 3u);
                pictures[aiv] = out.pictures[1];
            }
            EXPECT_EQ(pictures[1], pictures[0]);
        }
    }
}

}  // namespace
}  // namespace r263iri
