// The half-pel interpolation of every SIMD level against the plain C++ reference, with the output
// in a guarded buffer so that writes outside the image (or into unfilled margins) are caught.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CheckKernel.h"
#include "R263AVO/Interpolation.h"
#include "R263AVO/Picture.h"

namespace {

using checkkernel::GuardedBuffer;

constexpr uint8_t kMarker = 0xA5;

size_t InterpSize(int w, int h) {
    return static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h);
}

// Runs the dispatched interpolation under `mask` and returns the whole output buffer.
std::vector<uint8_t> RunInterpolation(uint32_t mask, const std::vector<uint8_t>& luma, int w, int h,
                                      bool fill) {
    checkkernel::ScopedSimdMask scoped(mask);
    GuardedBuffer<uint8_t> out(InterpSize(w, h), kMarker);
    r263avo::InterpolatePicture(luma.data(), w, h, out.Data(), fill);
    EXPECT_TRUE(out.GuardsIntact()) << "write outside the interpolated image";
    return std::vector<uint8_t>(out.Data(), out.Data() + out.Size());
}

struct Size {
    int w, h;
};

TEST(InterpolationKernels, SimdMatchesReference) {
    const auto levels = checkkernel::AvailableSimdLevels();
    if (levels.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    checkkernel::Rng rng(2);
    // Coded sizes and odd sizes that exercise the sample-by-sample tail.
    const std::vector<Size> sizes = {{16, 16}, {176, 144}, {48, 32}, {32, 1},
                                     {1, 1},   {17, 3},    {15, 2},  {33, 5}};
    for (const Size s : sizes) {
        for (int pattern = 0; pattern < 3; ++pattern) {
            std::vector<uint8_t> luma(static_cast<size_t>(s.w) * s.h);
            if (pattern == 0) rng.FillBytes(luma.data(), luma.size());
            // Alternating extremes stress the 16-bit rounding and the edge replication.
            if (pattern == 1)
                for (size_t i = 0; i < luma.size(); ++i) luma[i] = ((i / s.w + i % s.w) & 1) ? 255 : 0;
            if (pattern == 2) std::fill(luma.begin(), luma.end(), 255);
            for (bool fill : {false, true}) {
                const auto ref = RunInterpolation(0, luma, s.w, s.h, fill);
                for (const auto& level : levels) {
                    const auto got = RunInterpolation(level.mask, luma, s.w, s.h, fill);
                    EXPECT_EQ(checkkernel::FirstMismatch(got.data(), ref.data(), ref.size()), -1)
                        << level.name << " " << s.w << "x" << s.h << " pattern " << pattern << " fill "
                        << fill;
                }
            }
        }
    }
}

TEST(InterpolationKernels, MarginsUntouchedUnlessFilled) {
    const int w = 32, h = 16;
    std::vector<uint8_t> luma(w * h, 9);
    const auto out = RunInterpolation(~0u, luma, w, h, false);
    const int stride = r263avo::InterpStride(w);
    for (int v = -r263avo::kInterpMargin; v < 2 * h + r263avo::kInterpMargin; ++v) {
        for (int u = -r263avo::kInterpMargin; u < 2 * w + r263avo::kInterpMargin; ++u) {
            const bool inside = u >= 0 && u < 2 * w && v >= 0 && v < 2 * h;
            const uint8_t s = out[(v + r263avo::kInterpMargin) * stride + u + r263avo::kInterpMargin];
            ASSERT_EQ(s, inside ? 9 : kMarker) << u << "," << v;
        }
    }
}

}  // namespace
