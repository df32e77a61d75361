// Macroblock-layer codes, motion vector differences, escapes and event formation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "EncToolsTestUtil.h"
#include "R263AVO/EncodeCoefficients.h"
#include "R263AVO/OutPutCoefficients.h"

using namespace r263avo;
using enctools_test::BitCapture;
using enctools_test::Pattern;

TEST(Mvd, WrapsIntoRange) {
    EXPECT_EQ(-24, WrapMvd(40));
    EXPECT_EQ(-32, WrapMvd(32));
    EXPECT_EQ(31, WrapMvd(31));
    EXPECT_EQ(-32, WrapMvd(-32));
    EXPECT_EQ(31, WrapMvd(-33));
    EXPECT_EQ(1, WrapMvd(-63));
    EXPECT_EQ(0, WrapMvd(128));
}

TEST(Mvd, ComponentCodes) {
    struct Case {
        int mvd;
        const char* bits;
    };
    const Case cases[] = {
        {0, "1"},
        {1, "01 0"},
        {-1, "01 1"},
        {-32, "0000 0000 0010 1"},  // -16 pixels
        {32, "0000 0000 0010 1"},   // +16 pixels wraps to -16
        {40, "0000 0001 00 1"},     // +20 pixels is written as -12
        {31, "0000 0000 0011 0"},
        {4, "0000 11 0"},
    };
    for (const Case& c : cases) {
        BitCapture cap;
        WriteMvdComponent(cap.bw, c.mvd);
        EXPECT_EQ(Pattern(c.bits), cap.Bits()) << "MVD " << c.mvd;
    }
}

TEST(MacroblockHeader, McbpcCbpyAndIntraMode) {
    struct Case {
        void (*write)(BitWriter&);
        const char* bits;
    };
    const Case cases[] = {
        {[](BitWriter& bw) { WriteMcbpcI(bw, kMbIntra, 0); }, "1"},
        {[](BitWriter& bw) { WriteMcbpcI(bw, kMbIntraQ, 2); }, "0000 10"},
        {[](BitWriter& bw) { WriteMcbpcP(bw, kMbInter, 0); }, "1"},
        {[](BitWriter& bw) { WriteMcbpcP(bw, kMbIntra, 3); }, "0000 011"},
        {[](BitWriter& bw) { WriteMcbpcP(bw, kMbInter4VQ, 3); }, "0000 0000 0111 1"},
        {[](BitWriter& bw) { WriteCbpy(bw, 15); }, "11"},
        {[](BitWriter& bw) { WriteCbpy(bw, 0); }, "0011"},
        {[](BitWriter& bw) { WriteCbpy(bw, 15 ^ 15); }, "0011"},
        {[](BitWriter& bw) { WriteIntraMode(bw, 0); }, "0"},
        {[](BitWriter& bw) { WriteIntraMode(bw, 2); }, "10"},
        {[](BitWriter& bw) { WriteIntraMode(bw, 3); }, "11"},
    };
    for (const Case& c : cases) {
        BitCapture cap;
        c.write(cap.bw);
        EXPECT_EQ(Pattern(c.bits), cap.Bits());
    }
}

TEST(MacroblockHeader, DquantForms) {
    struct Case {
        int change;
        bool mq;
        int newQuant;
        const char* bits;
    };
    const Case cases[] = {
        {-1, false, 7, "00"},     {-2, false, 6, "01"}, {1, false, 9, "10"},
        {2, false, 10, "11"},     {-1, true, 4, "10"},  // QUANT 5: first column is -1
        {1, true, 6, "11"},                             // QUANT 5: second column is +1
        {2, true, 3, "10"},                             // QUANT 1: first column is +2
        {-3, true, 18, "10"},                           // QUANT 21: -3
        {3, true, 24, "11"},                            // QUANT 21: +3
        {-5, true, 26, "11"},                           // QUANT 31: -5
        {0, true, 17, "0 10001"},                       // absolute form
        {4, true, 9, "0 01001"},                        // no column gives +4 at QUANT 5: absolute form
    };
    for (const Case& c : cases) {
        BitCapture cap;
        WriteDquant(cap.bw, c.change, c.mq, c.newQuant);
        EXPECT_EQ(Pattern(c.bits), cap.Bits()) << "change " << c.change << " MQ " << c.mq;
    }
}

TEST(MacroblockHeader, ModifiedQuantColumnsStayInRange) {
    for (int q = 1; q <= 31; ++q) {
        for (bool second : {false, true}) {
            const int next = q + ModifiedQuantChange(q, second);
            EXPECT_GE(next, 1) << q;
            EXPECT_LE(next, 31) << q;
            EXPECT_NE(next, q);
        }
    }
}

TEST(BlockLayer, EscapedLevel200) {
    struct Case {
        bool mq;
        int level;
        const char* bits;
        int kept;
    };
    const Case cases[] = {
        {true, 200, "0000011 1 000000 10000000 01000 000110", 200},
        {false, 200, "0000011 1 000000 01111111", 127},
        {true, -200, "0000011 1 000000 10000000 11000 111001", -200},
        {false, -200, "0000011 1 000000 10000001", -127},
        {true, 127, "0000011 1 000000 01111111", 127},
        {true, 5000, "0000011 1 000000 10000000 11111 011111", 1023},
    };
    for (const Case& c : cases) {
        BitCapture cap;
        int16_t levels[64] = {};
        levels[0] = static_cast<int16_t>(c.level);
        CodeInterBlock(cap.bw, levels, c.mq);
        EXPECT_EQ(Pattern(c.bits), cap.Bits()) << "level " << c.level << " MQ " << c.mq;
        EXPECT_EQ(c.kept, levels[0]) << "the block keeps the level the decoder reconstructs";
    }
}

TEST(BlockLayer, AnnexIBlocksKeep127OutOfThe8BitField) {
    BitCapture withMq;
    int16_t levels[64] = {};
    levels[0] = 127;
    CodeAicBlock(withMq.bw, levels, ZigzagScan, true);
    EXPECT_EQ(Pattern("0000011 1 000000 10000000 11111 000011"), withMq.Bits());

    BitCapture withoutMq;
    CodeAicBlock(withoutMq.bw, levels, ZigzagScan, false);
    EXPECT_EQ(Pattern("0000011 1 000000 01111111"), withoutMq.Bits());
}

TEST(BlockLayer, IntraDcAndEvents) {
    BitCapture onlyDc;
    int16_t levels[64] = {};
    levels[0] = 128;
    CodeIntraBlock(onlyDc.bw, levels, false);
    EXPECT_EQ("11111111", onlyDc.Bits());
    EXPECT_FALSE(BlockHasLevels(levels, 1));
    EXPECT_TRUE(BlockHasLevels(levels, 0));

    BitCapture cap;
    levels[0] = 37;
    levels[1] = -1;  // scan position 1, run 0
    CodeIntraBlock(cap.bw, levels, false);
    EXPECT_EQ(Pattern("00100101 0111 1"), cap.Bits());
}

TEST(BlockLayer, InterEventsRunsAndEscapes) {
    int16_t levels[64] = {};
    levels[ZigzagScan[0]] = 1;   // run 0
    levels[ZigzagScan[2]] = -2;  // run 1
    levels[ZigzagScan[5]] = 13;  // run 2, beyond Table 16's levels: escape
    levels[ZigzagScan[63]] = 1;  // run 57, last: escape
    BitCapture cap;
    CodeInterBlock(cap.bw, levels, false);
    EXPECT_EQ(Pattern("10 0"
                      "0101 00 1"
                      "0000011 0 000010 00001101"
                      "0000011 1 111001 00000001"),
              cap.Bits());

    BitCapture empty;
    int16_t zeros[64] = {};
    CodeInterBlock(empty.bw, zeros, true);
    EXPECT_EQ("", empty.Bits());
}

TEST(BlockLayer, AnnexIEventsUseTheIntraTableAndTheGivenScan) {
    int16_t levels[64] = {};
    levels[AltVerticalScan[0]] = 25;  // Table I.2 has (0, 0, 25)
    levels[AltVerticalScan[1]] = -1;  // run 0, last
    BitCapture cap;
    CodeAicBlock(cap.bw, levels, AltVerticalScan, false);
    EXPECT_EQ(Pattern("0000 0101 0011 0"
                      "0111 1"),
              cap.Bits());
}

TEST(BlockLayer, LookupsWriteCodeAndSign) {
    BitCapture cap;
    EXPECT_EQ(2, TcoefVlcLookup(cap.bw, 0, -1, 0));
    EXPECT_EQ(0, TcoefVlcLookup(cap.bw, 0, 13, 0));
    EXPECT_EQ(0, TcoefVlcLookup(cap.bw, 41, 1, 1));
    EXPECT_EQ(12, AicVlcLookup(cap.bw, 0, 25, 0));
    EXPECT_EQ(0, AicVlcLookup(cap.bw, 0, 26, 0));
    EXPECT_EQ(Pattern("10 1 0000 0101 0011 0"), cap.Bits());
}

namespace {

// The block layer written the plain way: every scan position from `first` in turn, one event per
// nonzero level, the last with LAST = 1, escapes for levels without a code.
std::string PlainEvents(int16_t levels[64], const uint8_t scan[64], int first, bool modifiedQuant, bool aic) {
    BitCapture cap(4096);
    int held = -1, heldRun = 0, run = 0;
    const auto write = [&](int last) {
        const int level = levels[held];
        const int coded = aic ? AicVlcLookup(cap.bw, heldRun, level, last) : TcoefVlcLookup(cap.bw, heldRun, level, last);
        if (coded == 0)
            levels[held] = static_cast<int16_t>(WriteEscape(cap.bw, last, heldRun, level, modifiedQuant, aic ? 126 : 127));
    };
    for (int k = first; k < 64; ++k) {
        if (levels[scan[k]] == 0) {
            ++run;
            continue;
        }
        if (held >= 0) write(0);
        held = scan[k];
        heldRun = run;
        run = 0;
    }
    if (held >= 0) write(1);
    return cap.Bits();
}

}  // namespace

// Random blocks from nearly empty to full, with levels up to the extended range, in every scan
// (and a scan of the caller's own): the same bits and the same stored-back levels as the plain
// walk.
TEST(BlockLayer, EventsMatchThePlainWalkOverRandomBlocks) {
    std::mt19937 rng(12345);
    uint8_t ownScan[64];
    for (int k = 0; k < 64; ++k) ownScan[k] = static_cast<uint8_t>(k);
    std::shuffle(ownScan, ownScan + 64, rng);
    const uint8_t* scans[] = {ZigzagScan, AltHorizontalScan, AltVerticalScan, ownScan};
    for (int trial = 0; trial < 4000; ++trial) {
        int16_t levels[64] = {};
        const int density = static_cast<int>(rng() % 65);  // nonzero levels per 64, about
        const int maxLevel = trial % 3 == 0 ? 1 : (trial % 3 == 1 ? 20 : 2000);
        for (int p = 0; p < 64; ++p) {
            if (static_cast<int>(rng() % 64) >= density) continue;
            const int magnitude = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxLevel));
            levels[p] = static_cast<int16_t>(rng() % 2 ? magnitude : -magnitude);
        }
        const bool modifiedQuant = trial % 2 == 0;
        int16_t mine[64], plain[64];
        const std::string what = "trial " + std::to_string(trial);

        std::memcpy(mine, levels, sizeof(mine));
        std::memcpy(plain, levels, sizeof(plain));
        BitCapture inter(4096);
        CodeInterBlock(inter.bw, mine, modifiedQuant);
        EXPECT_EQ(PlainEvents(plain, ZigzagScan, 0, modifiedQuant, false), inter.Bits()) << what;
        EXPECT_EQ(0, std::memcmp(mine, plain, sizeof(mine))) << what;

        std::memcpy(mine, levels, sizeof(mine));
        std::memcpy(plain, levels, sizeof(plain));
        mine[0] = plain[0] = 64;  // a valid INTRADC
        BitCapture intra(4096);
        CodeIntraBlock(intra.bw, mine, modifiedQuant);
        EXPECT_EQ("01000000" + PlainEvents(plain, ZigzagScan, 1, modifiedQuant, false), intra.Bits()) << what;

        const uint8_t* scan = scans[trial % 4];
        std::memcpy(mine, levels, sizeof(mine));
        std::memcpy(plain, levels, sizeof(plain));
        BitCapture aic(4096);
        CodeAicBlock(aic.bw, mine, scan, modifiedQuant);
        EXPECT_EQ(PlainEvents(plain, scan, 0, modifiedQuant, true), aic.Bits()) << what;
        EXPECT_EQ(0, std::memcmp(mine, plain, sizeof(mine))) << what;
    }
}
