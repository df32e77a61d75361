// The decoder's block interpolation (motion compensation) at every SIMD level against the plain
// C++ reference: both block sizes, all four half-sample cases, both rounding types, random strides
// and samples, with guarded output so that writes outside the block are caught.
#include <gtest/gtest.h>

#include <vector>

#include "R263IRI/BlockPrediction.h"
#include "CheckKernel.h"

namespace {

using checkkernel::GuardedBuffer;

TEST(BlockPredictionKernels, SimdMatchesReference) {
    const auto levels = checkkernel::AvailableSimdLevels();
    if (levels.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    checkkernel::Rng rng(41);
    for (int trial = 0; trial < 4000; ++trial) {
        const int size = (trial & 1) ? 16 : 8;
        const int hx = (trial >> 1) & 1, hy = (trial >> 2) & 1, rounding = (trial >> 3) & 1;
        const int stride = size + 1 + rng.Range(0, 40);
        const int dstStride = size + rng.Range(0, 24);
        std::vector<uint8_t> src(static_cast<size_t>(stride) * (size + 1));
        // Extremes now and then: the sums of four 255s must not overflow.
        if (trial % 7 == 0) {
            for (auto& v : src) v = rng.Range(0, 1) ? 255 : 0;
        } else {
            rng.FillBytes(src.data(), src.size());
        }
        GuardedBuffer<uint8_t> expected(static_cast<size_t>(dstStride) * size, 0x5A);
        r263iri::InterpolateBlockC(src.data(), stride, hx, hy, rounding, size, expected.Data(), dstStride);
        for (const auto& level : levels) {
            checkkernel::ScopedSimdMask scoped(level.mask);
            GuardedBuffer<uint8_t> got(static_cast<size_t>(dstStride) * size, 0x5A);
            r263iri::InterpolateBlock(src.data(), stride, hx, hy, rounding, size, got.Data(), dstStride);
            ASSERT_TRUE(got.GuardsIntact()) << level.name << " trial " << trial;
            ASSERT_EQ(checkkernel::FirstMismatch(got.Data(), expected.Data(), got.Size()), -1)
                << level.name << " trial " << trial << " size " << size << " hx " << hx << " hy " << hy
                << " rounding " << rounding;
        }
    }
}

TEST(BlockPredictionKernels, ReferenceRoundingRules) {
    // With rounding type 1 a horizontal half sample between 10 and 11 gives 10, with 0 it gives 11;
    // the centre of 10, 11, 11, 11 gives (43 + 2 - r) >> 2 = 11 for both.
    uint8_t src[9 * 17] = {};
    src[0] = 10;
    src[1] = 11;
    src[17] = 11;
    src[18] = 11;
    uint8_t out[8 * 8];
    r263iri::InterpolateBlockC(src, 17, 1, 0, 1, 8, out, 8);
    EXPECT_EQ(out[0], 10);
    r263iri::InterpolateBlockC(src, 17, 1, 0, 0, 8, out, 8);
    EXPECT_EQ(out[0], 11);
    r263iri::InterpolateBlockC(src, 17, 1, 1, 1, 8, out, 8);
    EXPECT_EQ(out[0], 11);
}

}  // namespace
