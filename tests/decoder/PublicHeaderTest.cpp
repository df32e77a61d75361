// The decoder's public header compiles on its own: it is the first and only include here.
#include "R263IRI.h"

#include <gtest/gtest.h>

TEST(PublicHeader, DecoderHeaderStandsAlone) {
    r263iri::DecoderInfo info;
    EXPECT_EQ(info.lastStatus, r263iri::DecodeStatus::kNoPicture);
}
