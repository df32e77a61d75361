// The encoder's public header compiles on its own: it is the first and only include here.
#include "R263AVO.h"

#include <gtest/gtest.h>

TEST(PublicHeader, EncoderHeaderStandsAlone) {
    r263avo::EncoderParams p;
    EXPECT_EQ(p.UseDeblockFilter, 0);
    EXPECT_STREQ(r263avo::EncoderLastError(), "");
}
