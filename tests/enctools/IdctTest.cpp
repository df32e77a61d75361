// Inverse quantisation values and the integer IDCT against a double-precision IDCT.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "EncToolsTestUtil.h"
#include "R263AVO/Idct.h"
#include "R263AVO/Iquant.h"

using namespace r263avo;

TEST(Iquant, OddEvenRuleAndAnnexI) {
    struct Case {
        int qp, level, rec;
    };
    for (const Case& c :
         {Case{4, -1, -11}, Case{5, 1, 15}, Case{4, 2, 19}, Case{31, -3, -217}, Case{6, 0, 0}}) {
        int16_t block[64] = {};
        block[9] = static_cast<int16_t>(c.level);
        DequantizeInterBlock(block, c.qp);
        EXPECT_EQ(c.rec, block[9]) << "QP " << c.qp << " level " << c.level;
        block[0] = static_cast<int16_t>(c.level);
        DequantizeInterBlock(block, c.qp);
        EXPECT_EQ(c.rec, block[0]) << "inter blocks have no special DC";
    }
    int16_t intra[64] = {};
    intra[0] = 128;
    intra[1] = 1;
    DequantizeIntraBlock(intra, 5);
    EXPECT_EQ(1024, intra[0]);
    EXPECT_EQ(15, intra[1]);

    int16_t levels[64] = {}, coefficients[64];
    levels[0] = 1;
    levels[7] = -2;
    DequantizeIntraCopy(levels, coefficients, 5);
    EXPECT_EQ(10, coefficients[0]);
    EXPECT_EQ(-20, coefficients[7]);
    EXPECT_EQ(0, coefficients[1]);

    // One overflow rule on both sides: saturation to the inverse DCT's input range.
    int16_t big[64] = {};
    big[1] = 100;
    big[2] = -100;
    big[3] = 33;  // 31 x 67 = 2077
    DequantizeInterBlock(big, 31);
    EXPECT_EQ(2047, big[1]);
    EXPECT_EQ(-2048, big[2]);
    EXPECT_EQ(2047, big[3]);
    levels[1] = 40;
    levels[2] = -40;
    DequantizeIntraCopy(levels, coefficients, 31);
    EXPECT_EQ(2047, coefficients[1]);
    EXPECT_EQ(-2048, coefficients[2]);
}

TEST(Idct, FlatBlocks) {
    struct Case {
        int dc, pixel;
    };
    for (const Case& c : {Case{1024, 128}, Case{800, 100}, Case{-88, -11}, Case{0, 0}}) {
        int16_t block[64] = {};
        block[0] = static_cast<int16_t>(c.dc);
        IdctBlockC(block);
        for (int v : block) ASSERT_EQ(c.pixel, v) << "DC " << c.dc;
    }
}

// Coefficient blocks as valid streams carry them: small dense blocks, and the exact DCT of
// random pixel or difference blocks (DC up to 2040) with a few coefficients disturbed.
TEST(Idct, MatchesDoubleIdctWithinOne) {
    std::mt19937 rng(2024);
    for (int iter = 0; iter < 400; ++iter) {
        double in[64], out[64];
        if (iter % 3 == 0) {
            for (double& v : in) v = static_cast<int>(rng() % 64) - 32;
        } else {
            double pixels[64];
            const bool residual = iter % 3 == 2;
            for (double& v : pixels) {
                v = residual ? static_cast<int>(rng() % 511) - 255 : static_cast<int>(rng() % 256);
            }
            enctools_test::ReferenceDct(pixels, in);
            for (double& v : in) v = std::round(v);
            for (int k = 0; k < 3; ++k) in[rng() % 64] += static_cast<int>(rng() % 41) - 20;
        }
        int16_t block[64];
        for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(in[i]);
        enctools_test::ReferenceIdct(in, out);
        IdctBlockC(block);
        for (int i = 0; i < 64; ++i) {
            ASSERT_LE(std::abs(block[i] - out[i]), 1.0) << "iteration " << iter << " index " << i;
        }
    }
}

// The dispatching entry point gives the reference's values on whatever this processor has.
TEST(Idct, DispatchEqualsReference) {
    std::mt19937 rng(99);
    for (int iter = 0; iter < 200; ++iter) {
        int16_t a[64], b[64];
        for (int i = 0; i < 64; ++i) a[i] = b[i] = static_cast<int16_t>(static_cast<int>(rng() % 1024) - 512);
        IdctBlockC(a);
        IdctBlock(b);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], b[i]);
    }
}
