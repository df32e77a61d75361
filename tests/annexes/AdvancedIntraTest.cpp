// Advanced intra coding: mode choice, prediction, the DC rule, the neighbour stores, and the
// agreement of the encoder's and the decoder's reconstruction.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

// Both libraries have a header of this name; the paths pick each one.
#include "R263AVO/AdvancedIPrediction_Annex_I.h"
#include "R263IRI/AdvancedIPrediction_Annex_I.h"
#include "R263AVO/Dct.h"
#include "R263AVO/EncodeCoefficients.h"
#include "R263IRI/GetFunctions.h"
#include "R263AVO/Quant.h"

namespace avo = r263avo;
namespace iri = r263iri;

namespace {

struct Block {
    int16_t c[64] = {};
};

Block Unavailable() {
    Block b;
    b.c[0] = 1024;
    return b;
}

Block WithDc(int dc) {
    Block b;
    b.c[0] = static_cast<int16_t>(dc);
    return b;
}

TEST(AicPrediction, ModeZeroPredictorFromAvailableNeighbours) {
    struct Case {
        int left, above, predictor;
    } cases[] = {
        {1024, 1024, 1024},  // first macroblock of a picture
        {1024, 600, 600},    // only the block above
        {601, 1024, 601},    // only the block to the left
        {600, 601, 600},     // both: the mean, truncated
        {1, 2046, 1023},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << "/" << c.above);
        EXPECT_EQ(avo::AicDcPredictor(c.left, c.above), c.predictor);
        Block b = WithDc(1100);
        const Block l = WithDc(c.left), a = WithDc(c.above);
        avo::AicPredict(b.c, l.c, a.c, avo::kAicDc);
        EXPECT_EQ(b.c[0], 1100 - c.predictor);
    }
}

TEST(AicPrediction, NeighboursSixHundredAndSixHundredOneReconstructOdd) {
    const Block l = WithDc(600), a = WithDc(601);
    Block enc;  // residual 0
    avo::AicReconstruct(enc.c, l.c, a.c, avo::kAicDc);
    EXPECT_EQ(enc.c[0], 601);
    Block dec;
    iri::AicPredictBlock(dec.c, l.c, a.c, iri::kAicModeDc);
    EXPECT_EQ(dec.c[0], 601);
}

// The DC after reconstruction for a sum s of residual and prediction.
TEST(AicPrediction, DcRuleOnBothSides) {
    struct Case {
        int mode, s, dc;
    } cases[] = {
        {0, 1024, 1025}, {0, 1023, 1023}, {0, 0, 1},       {0, -1, 0},      {0, -2, 0},
        {0, 2047, 2047}, {0, 2048, 2048}, {0, 5000, 2048}, {0, -700, 0},    {2, 1024, 1025},
        {2, -1, 1},      {2, -2, 0},      {2, -3, 0},      {2, 2047, 2047}, {2, 2049, 2048},
        {3, -1, 1},      {3, 1023, 1023}, {3, 0, 1},       {3, 2048, 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " s " << c.s);
        // Neighbours with DC 0 are available, so s is the residual itself in every mode.
        const Block zero;
        Block enc = WithDc(c.s), dec = WithDc(c.s);
        avo::AicReconstruct(enc.c, zero.c, zero.c, c.mode);
        iri::AicPredictBlock(dec.c, zero.c, zero.c, c.mode);
        EXPECT_EQ(enc.c[0], c.dc);
        EXPECT_EQ(dec.c[0], c.dc);
    }
}

TEST(AicPrediction, DirectionalModesMoveTheWholeFirstRowOrColumn) {
    Block above, left, cur;
    for (int i = 0; i < 64; ++i) {
        above.c[i] = static_cast<int16_t>(10 + i);
        left.c[i] = static_cast<int16_t>(-20 - i);
        cur.c[i] = static_cast<int16_t>(3 * i - 90);
    }
    above.c[0] = 501;
    left.c[0] = 301;
    cur.c[0] = 900;

    Block v = cur;
    avo::AicPredict(v.c, left.c, above.c, avo::kAicVertical);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(v.c[i], i < 8 ? cur.c[i] - above.c[i] : cur.c[i]) << i;
    avo::AicReconstruct(v.c, left.c, above.c, avo::kAicVertical);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(v.c[i], cur.c[i]) << i;
    EXPECT_EQ(v.c[0], 901);  // the sum made odd

    Block h = cur;
    avo::AicPredict(h.c, left.c, above.c, avo::kAicHorizontal);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(h.c[i], i % 8 == 0 ? cur.c[i] - left.c[i] : cur.c[i]) << i;
    avo::AicReconstruct(h.c, left.c, above.c, avo::kAicHorizontal);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(h.c[i], cur.c[i]) << i;

    // An unavailable block above is used as stored: DC 1024, AC 0.
    const Block none = Unavailable();
    Block u = cur;
    avo::AicPredict(u.c, left.c, none.c, avo::kAicVertical);
    EXPECT_EQ(u.c[0], 900 - 1024);
    EXPECT_EQ(u.c[1], cur.c[1]);
}

// A macroblock of six coefficient blocks: DC 0, c[1] = row, c[8] = column.
void FillMacroblock(int16_t mb[6][64], int row, int column) {
    std::memset(mb, 0, 6 * 64 * sizeof(int16_t));
    for (int b = 0; b < 6; ++b) {
        mb[b][1] = static_cast<int16_t>(row);
        mb[b][8] = static_cast<int16_t>(column);
    }
}

TEST(AicModeChoice, TieRulesAndClearWinners) {
    struct Case {
        const char* name;
        int curRow, curColumn;     // c[1], c[8] of every current block
        int aboveRow, leftColumn;  // A[1] of the above store blocks, L[8] of the left store blocks
        int mode;
    } cases[] = {
        // Costs DC 4096, vertical 4096, horizontal 4736: DC wins the tie with vertical.
        {"dc ties vertical", 0, 0, 0, 5, avo::kAicDc},
        // All three costs 4096.
        {"all equal", 0, 0, 0, 0, avo::kAicDc},
        // DC 7936, vertical 6016, horizontal 6016: vertical wins the tie with horizontal.
        {"vertical ties horizontal", 10, 10, 10, 10, avo::kAicVertical},
        {"horizontal", 10, 10, 0, 10, avo::kAicHorizontal},
        {"vertical", 10, 10, 10, 0, avo::kAicVertical},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int16_t cur[6][64];
        FillMacroblock(cur, c.curRow, c.curColumn);
        avo::AicMacroblock above, left;
        avo::SetAicUnavailable(above);
        avo::SetAicUnavailable(left);
        for (int b = 0; b < 6; ++b) {
            above.block[b][1] = static_cast<int16_t>(c.aboveRow);
            left.block[b][8] = static_cast<int16_t>(c.leftColumn);
        }
        EXPECT_EQ(avo::ChooseAicMode(cur, above, left), c.mode);
    }
}

TEST(AicModeChoice, InnerNeighboursComeFromTheCurrentCoefficients) {
    // A macroblock whose blocks all have the same first row, with nothing above it: only Y2 and Y3
    // have an above neighbour (Y0 and Y1) that matches, which decides for vertical prediction.
    int16_t cur[6][64] = {};
    for (int b = 0; b < 6; ++b) {
        cur[b][0] = 1024;
        for (int k = 1; k < 8; ++k) cur[b][k] = 40;
    }
    avo::AicMacroblock none;
    avo::SetAicUnavailable(none);
    EXPECT_EQ(avo::ChooseAicMode(cur, none, none), avo::kAicVertical);
    // The same with the first column instead: horizontal.
    int16_t t[6][64] = {};
    for (int b = 0; b < 6; ++b) {
        t[b][0] = 1024;
        for (int k = 1; k < 8; ++k) t[b][8 * k] = 40;
    }
    EXPECT_EQ(avo::ChooseAicMode(t, none, none), avo::kAicHorizontal);
}

TEST(AicScans, BothLibrariesUseTheSameScans) {
    for (int mode : {0, 2, 3}) {
        EXPECT_EQ(std::memcmp(avo::AicScan(mode), iri::AicScan(mode), 64), 0) << mode;
    }
    EXPECT_EQ(avo::AicScan(2), avo::AltHorizontalScan);
    EXPECT_EQ(avo::AicScan(3), avo::AltVerticalScan);
    EXPECT_EQ(std::memcmp(avo::ZigzagScan, iri::kZigzag, 64), 0);
    // Each scan visits every position once.
    for (const uint8_t* scan : {iri::kAltHorizontalScan, iri::kAltVerticalScan}) {
        bool seen[64] = {};
        for (int i = 0; i < 64; ++i) seen[scan[i]] = true;
        for (bool s : seen) EXPECT_TRUE(s);
    }
}

TEST(AicStores, ResetRowStartAndInterMacroblocks) {
    avo::AicStores s;
    s.Init(3);
    int16_t recon[6][64] = {};
    for (int b = 0; b < 6; ++b) recon[b][0] = static_cast<int16_t>(101 + b);
    avo::AicStoreMacroblock(s, 1, recon);
    EXPECT_EQ(s.Above(1).block[2][0], 103);
    EXPECT_EQ(s.left.block[1][0], 102);
    avo::AicMarkNotIntra(s, 2);
    EXPECT_EQ(s.Above(2).block[0][0], 1024);
    EXPECT_EQ(s.left.block[0][0], 1024);
    EXPECT_EQ(s.Above(1).block[2][0], 103);
    avo::AicStoreMacroblock(s, 0, recon);
    avo::AicStartRow(s);
    EXPECT_EQ(s.left.block[1][0], 1024);
    avo::ResetAicStores(s);
    for (int c = -1; c <= 3; ++c) {
        for (int b = 0; b < 6; ++b) EXPECT_EQ(s.Above(c).block[b][0], 1024);
    }

    iri::AicStore d;
    d.Init(3);
    EXPECT_EQ(d.left, d.Unavailable());
    int16_t coeffs[384] = {};
    iri::AicPredictMacroblock(d, 1, 0, coeffs);
    EXPECT_EQ(d.left, 1);
    EXPECT_EQ(d.Record(1)[0], 1025);  // nothing to predict from: 1024, made odd
    iri::AicMarkNotIntra(d, 2);
    EXPECT_EQ(d.Record(2)[0], 1024);
    iri::ResetAicStore(d);
    EXPECT_EQ(d.Record(1)[0], 1024);
    EXPECT_EQ(d.Record(d.Unavailable())[64 * 5], 1024);
}

// Random pixel macroblocks of a small picture coded by the encoder; the decoder predicts from the
// levels alone and must arrive at the encoder's reconstruction, stores included. Some macroblocks
// are inter (no intra neighbour) and one segment header resets both sides mid-row.
TEST(AicCrossLibrary, DecoderReconstructsTheEncodersCoefficients) {
    std::mt19937 rng(263);
    constexpr int kCols = 4, kRows = 3;
    int modes[4] = {};
    for (int trial = 0; trial < 12; ++trial) {
        const int qp = 1 + static_cast<int>(rng() % 31);
        const bool mq = (trial & 1) != 0;
        const int chromaQp = avo::ChromaQuant(qp, mq);
        avo::AicStores enc;
        enc.Init(kCols);
        iri::AicStore dec;
        dec.Init(kCols);
        const int resetAt = 1 + static_cast<int>(rng() % (kCols * kRows - 1));
        for (int m = 0; m < kCols * kRows; ++m) {
            const int column = m % kCols;
            if (m == resetAt) {
                avo::ResetAicStores(enc);
                iri::ResetAicStore(dec);
            }
            if (column == 0) {
                avo::AicStartRow(enc);
                iri::AicStartRow(dec);
            }
            if (rng() % 5 == 0) {
                avo::AicMarkNotIntra(enc, column);
                iri::AicMarkNotIntra(dec, column);
                continue;
            }
            // Smooth content with noise, so that all three modes occur.
            int16_t pixels[6][64];
            const int base = static_cast<int>(rng() % 256), slopeX = static_cast<int>(rng() % 9) - 4,
                      slopeY = static_cast<int>(rng() % 9) - 4;
            for (int b = 0; b < 6; ++b) {
                for (int i = 0; i < 64; ++i) {
                    const int v =
                        base + slopeX * (i % 8) + slopeY * (i / 8) + static_cast<int>(rng() % 7) - 3;
                    pixels[b][i] = static_cast<int16_t>(std::clamp(v, 0, 255));
                }
            }
            int16_t levels[6][64], recon[6][64];
            const int mode = avo::AicCodeMacroblock(pixels, qp, chromaQp, mq, enc, column, levels, recon);
            ASSERT_TRUE(mode == 0 || mode == 2 || mode == 3);
            ++modes[mode];
            avo::AicStoreMacroblock(enc, column, recon);

            // The reconstruction stays within a quantiser step of the unquantised coefficients.
            int16_t coefficients[6][64];
            std::memcpy(coefficients, pixels, sizeof(coefficients));
            for (auto& b : coefficients) avo::ForwardDctBlock(b);
            for (int b = 0; b < 6; ++b) {
                const int q = b < 4 ? qp : chromaQp;
                for (int i = 0; i < 64; ++i) {
                    if (std::abs(levels[b][i]) >= 127) continue;  // limited level
                    EXPECT_LE(std::abs(recon[b][i] - coefficients[b][i]), 2 * q + 1)
                        << "trial " << trial << " mb " << m << " block " << b << " coefficient " << i;
                }
            }

            int16_t decoded[384];
            for (int b = 0; b < 6; ++b) {
                const int q = b < 4 ? qp : chromaQp;
                for (int i = 0; i < 64; ++i) decoded[64 * b + i] = static_cast<int16_t>(2 * q * levels[b][i]);
            }
            iri::AicPredictMacroblock(dec, column, mode, decoded);
            ASSERT_EQ(std::memcmp(decoded, recon, sizeof(decoded)), 0) << "trial " << trial << " mb " << m;
        }
    }
    EXPECT_GT(modes[0], 0);
    EXPECT_GT(modes[2], 0);
    EXPECT_GT(modes[3], 0);
}

// Single blocks with random neighbours, including unavailable ones and sums at the DC limits.
TEST(AicCrossLibrary, BlockReconstructionAgreesOnRandomInputs) {
    std::mt19937 rng(1998);
    auto value = [&](int range) {
        return static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
    };
    for (int trial = 0; trial < 20000; ++trial) {
        Block cur, left, above;
        for (int i = 0; i < 64; ++i) {
            cur.c[i] = value(3000);
            left.c[i] = value(3000);
            above.c[i] = value(3000);
        }
        if (rng() % 4 == 0) left = Unavailable();
        if (rng() % 4 == 0) above = Unavailable();
        if (rng() % 3 == 0) cur.c[0] = value(3);  // near the -1 special case
        const int mode = trial % 3 == 0 ? 0 : (trial % 3 == 1 ? 2 : 3);
        Block enc = cur, dec = cur;
        avo::AicReconstruct(enc.c, left.c, above.c, mode);
        iri::AicPredictBlock(dec.c, left.c, above.c, mode);
        ASSERT_EQ(std::memcmp(enc.c, dec.c, sizeof(enc.c)), 0) << "trial " << trial << " mode " << mode;
    }
}

}  // namespace

namespace {

// Random Annex I blocks written by the encoder's block writer are read back by the decoder's
// Table I.2 reader, escapes and extended levels included.
TEST(AicCrossLibrary, DecoderReadsTheEncodersIntraCoefficients) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 400; ++trial) {
        const bool mq = trial % 2 != 0;
        const int mode = (trial / 2) % 3 == 0 ? 0 : ((trial / 2) % 3 == 1 ? 2 : 3);
        int16_t levels[64] = {};
        const int count = 1 + static_cast<int>(rng() % 12);
        for (int k = 0; k < count; ++k) {
            const int big = rng() % 8 == 0 ? (mq ? 1000 : 127) : 6;
            int v = 1 + static_cast<int>(rng() % static_cast<unsigned>(big));
            if (rng() % 2) v = -v;
            levels[rng() % 64] = static_cast<int16_t>(v);
        }
        std::vector<uint8_t> buffer(1024);
        avo::BitWriter bw;
        bw.Reset(buffer.data(), buffer.size());
        int16_t written[64];
        std::memcpy(written, levels, sizeof(written));
        avo::CodeAicBlock(bw, written, avo::AicScan(mode), mq);
        bw.PutBits(16, 0xFFFF);
        bw.AlignToByte();

        iri::BitReader r;
        r.Reset(buffer.data(), bw.ByteCount());
        int16_t read[64] = {};
        const uint8_t* scan = iri::AicScan(mode);
        int p = 0;
        iri::TcoefEvent e;
        for (;;) {
            ASSERT_TRUE(iri::GetAicTcoef(r, mq, &e)) << "trial " << trial;
            p += e.run;
            ASSERT_LT(p, 64);
            read[scan[p]] = static_cast<int16_t>(e.level);
            ++p;
            if (e.last) break;
        }
        EXPECT_EQ(std::memcmp(read, written, sizeof(read)), 0) << "trial " << trial;
        EXPECT_EQ(r.GetBits(16), 0xFFFFu);
    }
}

}  // namespace
