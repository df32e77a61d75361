// Forward transforms and quantisers: constant tables, INTRADC limits, the fast path against a
// double-precision DCT, early exits, the exact DCT and the Annex I quantiser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "R263AVO/Dct.h"
#include "EncToolsTestUtil.h"
#include "R263AVO/Qdct.h"
#include "R263AVO/Quant.h"

using namespace r263avo;

TEST(Qdct, ConstantRowsFollowTheirFormula) {
    const int32_t row1[7] = {5681, 5352, 4816, 4096, 3218, 2217, 1130};
    const int32_t row2[7] = {4017, 3784, 3406, 2896, 2276, 1567, 799};
    const int32_t row31[7] = {1020, 961, 865, 736, 578, 398, 203};
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(row1[k], QdctConstants[1][k]);
        EXPECT_EQ(row2[k], QdctConstants[2][k]);
        EXPECT_EQ(row31[k], QdctConstants[31][k]);
    }
    for (int q = 0; q < 32; ++q) {
        const double scale = q == 0 ? 1.0 : std::sqrt(2.0 * q);
        for (int k = 1; k <= 7; ++k) {
            EXPECT_EQ(std::lround(8192 * std::cos(k * M_PI / 16) / scale), QdctConstants[q][k - 1])
                << "row " << q << " c" << k;
        }
        EXPECT_EQ(0, QdctConstants[q][7]);
    }
}

TEST(Qdct, InterTablesUseTheSpeedFactors) {
    struct Case {
        int p, a, b;
    };
    for (const Case& c : {Case{1, 16, 16384}, Case{10, 51, 51811}, Case{25, 80, 81920}, Case{35, 95, 96929},
                          Case{45, 107, 109907}}) {
        InterQdctTables t;
        InitInterQdctTables(t, c.p);
        for (int q = 0; q < 32; ++q) {
            for (int k = 0; k < 8; ++k) {
                const int32_t k0 = QdctConstants[q][k];
                ASSERT_EQ((k0 / c.a) * 16, t.x[q][k]) << "p " << c.p << " q " << q << " k " << k;
                ASSERT_EQ(static_cast<int32_t>((int64_t{c.b} * k0) >> 14), t.y[q][k]);
            }
        }
    }
}

TEST(Qdct, IntraDcIsLimitedToValidCodes) {
    struct Case {
        int16_t pixel;
        int intraDc;
    };
    for (const Case& c : {Case{128, 128}, Case{0, 1}, Case{255, 254}, Case{8, 8}}) {
        for (int qp : {1, 8, 31}) {
            int16_t block[64];
            for (auto& v : block) v = c.pixel;
            QdctIntraBlock(block, qp);
            EXPECT_EQ(c.intraDc, block[0]) << "pixel " << c.pixel << " qp " << qp;
            for (int i = 1; i < 64; ++i) ASSERT_EQ(0, block[i]) << "flat block has no AC level";
        }
    }
}

// The fast intra path yields the DCT coefficient / 2QP truncated, up to the fixed-point
// rounding of the row pass.
TEST(Qdct, IntraLevelsMatchDoubleDct) {
    std::mt19937 rng(7);
    for (int iter = 0; iter < 300; ++iter) {
        const int qp = 1 + iter % 31;
        int16_t block[64];
        double in[64], f[64];
        for (int i = 0; i < 64; ++i) {
            block[i] = static_cast<int16_t>(rng() % 256);
            in[i] = block[i];
        }
        enctools_test::ReferenceDct(in, f);
        QdctIntraBlock(block, qp);
        for (int i = 1; i < 64; ++i) {
            const double exact = f[i] / (2 * qp);
            ASSERT_LE(std::abs(block[i] - std::trunc(exact)), 1) << "qp " << qp << " index " << i;
        }
    }
}

TEST(Qdct, InterLevelsMatchDoubleDctWhenNotZeroed) {
    std::mt19937 rng(11);
    for (int p : {1, 10, 25, 35, 45}) {
        InterQdctTables tables;
        InitInterQdctTables(tables, p);
        for (int iter = 0; iter < 200; ++iter) {
            const int qp = 1 + iter % 31;
            const int range = (iter % 3 == 0) ? 8 : 255;
            int16_t block[64];
            double in[64], f[64];
            for (int i = 0; i < 64; ++i) {
                block[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
                in[i] = block[i];
            }
            enctools_test::ReferenceDct(in, f);
            double loss = 0;
            for (int k = 0; k < 7; ++k) {
                const double ideal = QdctConstants[qp][k] / std::sqrt(static_cast<double>(p));
                loss = std::max(loss, 1.0 - tables.x[qp][k] / ideal);
            }
            QdctInterBlock(block, tables, qp, 8, 8);
            bool zeroed = true;
            for (int i = 0; i < 64; ++i) zeroed = zeroed && block[i] == 0;
            for (int i = 0; i < 64; ++i) {
                const double exact = f[i] / (2 * qp);
                if (zeroed) {
                    // Zeroing only happens for blocks whose levels are all small; how small depends on the
                    // speed factor p, which scales the row outputs that the test reads.
                    ASSERT_LT(std::abs(exact), 1.0 + 0.5 * std::sqrt(p)) << "p " << p << " qp " << qp;
                } else {
                    // The row-pass constants c / sqrt(p) are truncated ((c / a) x 16), so the
                    // levels are off by up to about the largest relative truncation of the row, plus the
                    // R10 rounding of row outputs that shrink as p grows.
                    ASSERT_LE(std::abs(block[i] - std::trunc(exact)), 2 + (2 * loss + 0.02) * std::abs(exact))
                        << "p " << p << " qp " << qp;
                }
            }
        }
    }
}

TEST(Qdct, InterEarlyExitsZeroSmallBlocks) {
    InterQdctTables tables;
    InitInterQdctTables(tables, 1);
    int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>((i * 7) % 5 - 2);
    QdctInterBlock(block, tables, 8, 8, 8);
    for (int v : block) ASSERT_EQ(0, v);

    // One large difference in the last row: found with row limit 8, skipped by row limit 2
    // (the pass stops after row 2 while nothing is significant yet).
    int16_t late[64] = {};
    late[63] = 200;
    int16_t copy[64];
    std::copy(late, late + 64, copy);
    QdctInterBlock(copy, tables, 2, 8, 8);
    bool any = false;
    for (int v : copy) any = any || v != 0;
    EXPECT_TRUE(any);
    std::copy(late, late + 64, copy);
    QdctInterBlock(copy, tables, 2, 2, 8);
    for (int v : copy) ASSERT_EQ(0, v);
}

TEST(Qdct, ExtremeInterInputsStayFinite) {
    InterQdctTables tables;
    for (int p : {1, 45}) {
        InitInterQdctTables(tables, p);
        for (int sign : {1, -1}) {
            int16_t block[64];
            for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(sign * ((i & 1) ? 255 : -255));
            QdctInterBlock(block, tables, 1, 8, 8);
            for (int v : block) ASSERT_LE(std::abs(v), 1100);
            for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(sign * 255);
            QdctInterBlock(block, tables, 1, 8, 8);
            EXPECT_NEAR(sign * 1020, block[0], 12);
        }
    }
}

TEST(Dct, ForwardDctMatchesDoubleDct) {
    std::mt19937 rng(3);
    for (int iter = 0; iter < 100; ++iter) {
        int16_t block[64];
        double in[64], f[64];
        for (int i = 0; i < 64; ++i) {
            block[i] = static_cast<int16_t>(rng() % 256);
            in[i] = block[i];
        }
        enctools_test::ReferenceDct(in, f);
        ForwardDctBlock(block);
        for (int i = 0; i < 64; ++i) ASSERT_LE(std::abs(block[i] - std::trunc(f[i])), 1) << i;
    }
}

TEST(Quant, AnnexIQuantiserRoundingAndLimits) {
    struct Case {
        int f, qp;
        bool mq;
        int level;
    };
    const Case cases[] = {
        {100, 5, true, 10},     // (100 + 15/4) / 10
        {100, 5, false, 10},    // (100 + 30/4) / 10
        {-17, 4, false, -2},    // (-17 - 6) / 8
        {-17, 4, true, -2},     // (-17 - 3) / 8
        {13, 4, false, 2},      // (13 + 6) / 8: the larger offset below QP 9
        {13, 4, true, 2},       // (13 + 3) / 8
        {12, 4, true, 1},       // (12 + 3) / 8
        {3200, 8, false, 127},  // 200 limited to 127 without Annex T
        {3600, 9, false, 127},  // limited too: the 8-bit LEVEL field could not carry 200
        {3600, 9, true, 200},   // Annex T: not limited
        {0, 31, false, 0},
    };
    for (const Case& c : cases) {
        int16_t coefficients[64] = {}, levels[64];
        coefficients[5] = static_cast<int16_t>(c.f);
        QuantizeIntraBlock(coefficients, levels, c.qp, c.mq);
        EXPECT_EQ(c.level, levels[5]) << "F " << c.f << " QP " << c.qp << " MQ " << c.mq;
    }
}

TEST(Quant, ChromaQuantAndLevelLimits) {
    EXPECT_EQ(15, ChromaQuant(31, true));
    EXPECT_EQ(31, ChromaQuant(31, false));
    EXPECT_EQ(6, ChromaQuant(7, true));
    for (int q = 1; q < 31; ++q) EXPECT_LE(ChromaQuant(q, true), ChromaQuant(q + 1, true));

    int16_t block[64] = {};
    block[0] = 300;
    block[1] = 300;
    block[2] = -300;
    block[3] = 127;
    LimitLevels(block, 1);
    EXPECT_EQ(300, block[0]);
    EXPECT_EQ(127, block[1]);
    EXPECT_EQ(-127, block[2]);
    EXPECT_EQ(127, block[3]);
}
