#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "SyntheticSequence.h"

using tessaro::SyntheticOptions;

TEST(Synthetic, DeterministicAndMoving) {
    SyntheticOptions o;
    o.width = 176;
    o.height = 144;
    o.frames = 8;
    auto a = tessaro::GenerateSyntheticSequence(o);
    auto b = tessaro::GenerateSyntheticSequence(o);
    ASSERT_EQ(a.size(), 176u * 144 * 3 / 2 * 8);
    EXPECT_EQ(a, b);
    const size_t frame = 176 * 144 * 3 / 2;
    EXPECT_NE(0, std::memcmp(a.data(), a.data() + frame, frame)) << "consecutive frames must differ";
}

TEST(Synthetic, SceneCutChangesContent) {
    SyntheticOptions o;
    o.width = 64;
    o.height = 48;
    o.frames = 8;
    o.sceneCut = 4;
    auto seq = tessaro::GenerateSyntheticSequence(o);
    const size_t frame = 64 * 48 * 3 / 2;
    long diffBefore = 0, diffAcross = 0;
    for (size_t i = 0; i < 64 * 48; ++i) {
        diffBefore += std::abs(seq[2 * frame + i] - seq[3 * frame + i]);
        diffAcross += std::abs(seq[3 * frame + i] - seq[4 * frame + i]);
    }
    EXPECT_GT(diffAcross, 2 * diffBefore);
}

TEST(Synthetic, SizeNames) {
    int w = 0, h = 0;
    EXPECT_TRUE(tessaro::ParseSizeName("CIF", &w, &h));
    EXPECT_EQ(352, w);
    EXPECT_EQ(288, h);
    EXPECT_TRUE(tessaro::ParseSizeName("180x100", &w, &h));
    EXPECT_EQ(180, w);
    EXPECT_FALSE(tessaro::ParseSizeName("181x100", &w, &h));
    EXPECT_FALSE(tessaro::ParseSizeName("0x0", &w, &h));
    EXPECT_FALSE(tessaro::ParseSizeName("qcifx", &w, &h));
}
