// Consistency of the VLC tables and scans: prefix-free code sets, complete code spaces, table
// shapes and permutations.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "R263AVO/EncodeCoefficients.h"
#include "R263AVO/OutPutCoefficients.h"

using namespace r263avo;

namespace {

std::string Digits(VlcCode v) {
    std::string s;
    for (int i = v.length - 1; i >= 0; --i) s += ((v.code >> i) & 1) ? '1' : '0';
    return s;
}

// Both signed versions of a code.
void AddSigned(std::vector<std::string>& set, VlcCode v) {
    set.push_back(Digits(v) + "0");
    set.push_back(Digits(v) + "1");
}

::testing::AssertionResult PrefixFree(std::vector<std::string> codes) {
    std::sort(codes.begin(), codes.end());
    for (size_t i = 0; i + 1 < codes.size(); ++i) {
        if (codes[i + 1].compare(0, codes[i].size(), codes[i]) == 0) {
            return ::testing::AssertionFailure() << codes[i] << " is a prefix of " << codes[i + 1];
        }
    }
    return ::testing::AssertionSuccess();
}

// Kraft sum in units of 2^-16.
long KraftUnits(const std::vector<std::string>& codes) {
    long sum = 0;
    for (const auto& c : codes) sum += 1L << (16 - c.size());
    return sum;
}

std::vector<std::string> RunLevelSet(std::span<const RunLevelCode> table) {
    std::vector<std::string> set;
    for (const auto& c : table) AddSigned(set, c.vlc);
    set.push_back(Digits(kEscapeCode));
    return set;
}

}  // namespace

// Table 16 with ESCAPE fills the whole code space except the prefix 0000 0000 0, which the
// standard leaves unused (it would start a start-code emulation).
TEST(VlcTables, TcoefAndEscapeArePrefixFreeAndComplete) {
    for (auto table : {TcoefCodes(), AicCodes()}) {
        const auto set = RunLevelSet(table);
        EXPECT_EQ(205u, set.size());
        EXPECT_TRUE(PrefixFree(set));
        EXPECT_EQ(65536 - (1 << 7), KraftUnits(set));
        for (const auto& c : set) EXPECT_NE(0u, c.compare(0, 9, "000000000")) << c;
    }
}

TEST(VlcTables, AnnexIIntraTableReusesTheTcoefCodeWords) {
    std::multiset<std::string> tcoef, aic;
    for (const auto& c : TcoefCodes()) tcoef.insert(Digits(c.vlc));
    for (const auto& c : AicCodes()) aic.insert(Digits(c.vlc));
    EXPECT_EQ(tcoef, aic);
}

TEST(VlcTables, RunLevelShapesAndLookups) {
    struct Shape {
        std::span<const RunLevelCode> table;
        VlcCode (*lookup)(int, int, int);
        int maxLevelRun01Last0, maxRunLast0, maxLevelRun01Last1, maxRunLast1;
    };
    for (const Shape& s :
         {Shape{TcoefCodes(), TcoefCode, 12, 26, 3, 40}, Shape{AicCodes(), AicCode, 25, 13, 10, 23}}) {
        int maxLevel[2] = {0, 0}, maxRun[2] = {0, 0};
        std::set<std::tuple<int, int, int>> events;
        for (const auto& c : s.table) {
            EXPECT_TRUE(events.insert({c.last, c.run, c.level}).second) << "duplicate event";
            maxLevel[c.last] = std::max<int>(maxLevel[c.last], c.level);
            maxRun[c.last] = std::max<int>(maxRun[c.last], c.run);
            const VlcCode found = s.lookup(c.last, c.run, c.level);
            EXPECT_EQ(c.vlc.code, found.code);
            EXPECT_EQ(c.vlc.length, found.length);
        }
        EXPECT_EQ(s.maxLevelRun01Last0, maxLevel[0]);
        EXPECT_EQ(s.maxRunLast0, maxRun[0]);
        EXPECT_EQ(s.maxLevelRun01Last1, maxLevel[1]);
        EXPECT_EQ(s.maxRunLast1, maxRun[1]);
        EXPECT_EQ(0, s.lookup(0, 0, 26).length);
        EXPECT_EQ(0, s.lookup(1, 63, 1).length);
        EXPECT_EQ(0, s.lookup(0, 64, 1).length);
        EXPECT_EQ(0, s.lookup(0, 0, 0).length);
    }
}

TEST(VlcTables, MacroblockTablesArePrefixFree) {
    std::vector<std::string> mcbpcI = {Digits(McbpcStuffing)};
    for (const auto& row : McbpcICodes) {
        for (VlcCode v : row) mcbpcI.push_back(Digits(v));
    }
    EXPECT_TRUE(PrefixFree(mcbpcI));

    std::vector<std::string> mcbpcP = {Digits(McbpcStuffing)};
    for (const auto& row : McbpcPCodes) {
        for (VlcCode v : row) mcbpcP.push_back(Digits(v));
    }
    EXPECT_EQ(25u, mcbpcP.size());
    EXPECT_TRUE(PrefixFree(mcbpcP));

    std::vector<std::string> cbpy;
    for (VlcCode v : CbpyCodes) cbpy.push_back(Digits(v));
    EXPECT_TRUE(PrefixFree(cbpy));
    EXPECT_EQ(16u, std::set<std::string>(cbpy.begin(), cbpy.end()).size());
}

// Table 14 with its sign bits fills the code space except the all-zero 11-bit prefix.
TEST(VlcTables, MvdIsPrefixFreeAndComplete) {
    std::vector<std::string> mvd = {Digits(MvdCodes[0])};
    for (int m = 1; m <= 32; ++m) AddSigned(mvd, MvdCodes[m]);
    EXPECT_TRUE(PrefixFree(mvd));
    EXPECT_EQ(65536 - (1 << 5), KraftUnits(mvd));
}

TEST(Scans, ArePermutationsWithTheirKnownStarts) {
    for (const uint8_t* scan : {ZigzagScan, AltHorizontalScan, AltVerticalScan}) {
        std::set<int> seen(scan, scan + 64);
        EXPECT_EQ(64u, seen.size());
        EXPECT_EQ(63, *seen.rbegin());
        EXPECT_EQ(0, scan[0]);
        EXPECT_EQ(63, scan[63]);
    }
    const uint8_t zigzagStart[] = {0, 1, 8, 16, 9, 2, 3, 10};
    const uint8_t horizontalStart[] = {0, 1, 2, 3, 8, 9, 16, 17};
    const uint8_t verticalStart[] = {0, 8, 16, 24, 1, 9, 2, 10};
    EXPECT_TRUE(std::equal(zigzagStart, zigzagStart + 8, ZigzagScan));
    EXPECT_TRUE(std::equal(horizontalStart, horizontalStart + 8, AltHorizontalScan));
    EXPECT_TRUE(std::equal(verticalStart, verticalStart + 8, AltVerticalScan));
    // The zigzag walks anti-diagonals in order.
    for (int k = 1; k < 64; ++k) {
        const int d0 = ZigzagScan[k - 1] / 8 + ZigzagScan[k - 1] % 8;
        const int d1 = ZigzagScan[k] / 8 + ZigzagScan[k] % 8;
        EXPECT_TRUE(d1 == d0 || d1 == d0 + 1) << k;
    }
}
