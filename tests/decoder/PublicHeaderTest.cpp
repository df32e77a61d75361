// The decoder's public header compiles on its own: it is the first and only include here.
#include "R263IRI.h"

#include <gtest/gtest.h>

TEST(PublicHeader, DecoderHeaderStandsAlone) {
    r263iri::DecoderInfo info;
    EXPECT_EQ(info.lastStatus, r263iri::DecodeStatus::kNoPicture);
}

TEST(PublicHeader, StandardPictureSizes) {
    const int32_t expected[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    for (int32_t f = 1; f <= 5; ++f) {
        int32_t w = -1, h = -1;
        ASSERT_TRUE(r263iri::StandardPictureSize(f, &w, &h)) << f;
        EXPECT_EQ(w, expected[f][0]);
        EXPECT_EQ(h, expected[f][1]);
    }
    for (int32_t f : {0, 6, 7, -1}) {
        int32_t w = -1, h = -1;
        EXPECT_FALSE(r263iri::StandardPictureSize(f, &w, &h)) << f;
        EXPECT_EQ(w, -1);  // untouched
    }
    EXPECT_FALSE(r263iri::StandardPictureSize(2, nullptr, nullptr));
}
