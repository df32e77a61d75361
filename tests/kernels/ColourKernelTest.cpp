// Colour converters: the documented pixel values, the byte selection of the 4:2:2 unpackers, and
// the SSE2 bodies against the plain loops over random pictures of many widths.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "CPUInfo.h"
#include "CheckKernel.h"
#include "ClrConv.h"

namespace {

using checkkernel::GuardedBuffer;
using checkkernel::Rng;

// A w x h planar picture whose every pixel has the given Y, U and V.
std::vector<uint8_t> FlatI420(int w, int h, uint8_t y, uint8_t u, uint8_t v) {
    const int luma = w * h;
    std::vector<uint8_t> p(static_cast<size_t>(luma) * 3 / 2);
    std::fill(p.begin(), p.begin() + luma, y);
    std::fill(p.begin() + luma, p.begin() + luma + luma / 4, u);
    std::fill(p.begin() + luma + luma / 4, p.end(), v);
    return p;
}

struct RgbCase {
    uint8_t y, u, v;
    uint8_t b, g, r;
};

TEST(ColourConvert, KnownPixelValues) {
    const RgbCase cases[] = {
        {16, 128, 128, 0, 0, 0},         // black
        {235, 128, 128, 253, 253, 253},  // white
        {0, 0, 0, 0, 136, 0},            // Y' = -18, g1 + g2 = -154
        {255, 255, 255, 255, 124, 255},
    };
    for (const auto& c : cases) {
        for (uint32_t options : {0u, cpuinfo::kCpuMmx}) {
            const int w = 32, h = 4;
            auto src = FlatI420(w, h, c.y, c.u, c.v);
            std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
            clrconv::ConvertI420ToRgb24(src.data(), rgb.data(), w, h, w * h, options);
            for (int i = 0; i < w * h; ++i) {
                ASSERT_EQ(rgb[3 * i], c.b) << "Y=" << int(c.y) << " pixel " << i << " options " << options;
                ASSERT_EQ(rgb[3 * i + 1], c.g) << "Y=" << int(c.y);
                ASSERT_EQ(rgb[3 * i + 2], c.r) << "Y=" << int(c.y);
            }
        }
    }
}

TEST(ColourConvert, RgbRowsAreBottomUpAndShareChroma) {
    // 4 x 4 picture: luma rising by row, chroma differing per 2x2 block.
    const int w = 4, h = 4;
    std::vector<uint8_t> src(w * h * 3 / 2, 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[y * w + x] = static_cast<uint8_t>(16 + 40 * y);
    src[w * h + 3] = 200;  // Cb of the bottom-right 2x2 block
    std::vector<uint8_t> rgb(w * h * 3);
    clrconv::ConvertI420ToRgb24(src.data(), rgb.data(), w, h, w * h, 0);
    // Picture row 0 (Y = 16, grey) is the last bitmap row.
    EXPECT_EQ(rgb[3 * (3 * w + 0)], 0);
    // Picture row 3, column 3 lands in bitmap row 0 and uses Cb 200: B = clip(Y' + b).
    const int yy = ((74 * 136) >> 6) - 18;
    const int b = ((129 * 200) >> 6) - 258;
    EXPECT_EQ(rgb[3 * 3], std::min(255, yy + b));
    EXPECT_EQ(rgb[3 * 2], std::min(255, yy + b));  // same block, column 2
    EXPECT_EQ(rgb[3 * 1], std::min(255, yy));      // left block keeps Cb 128
}

// The unpackers' byte selection on a small picture, checked against a direct description.
TEST(ColourConvert, Unpack422SelectsEvenRowChroma) {
    const int w = 6, h = 4;
    std::vector<uint8_t> packed(w * 2 * h);
    for (size_t i = 0; i < packed.size(); ++i) packed[i] = static_cast<uint8_t>(i);
    for (int format = 0; format < 2; ++format) {
        const int lumaAt = format == 0 ? 1 : 0, cbAt = format == 0 ? 0 : 1, crAt = format == 0 ? 2 : 3;
        std::vector<uint8_t> out(w * h * 3 / 2, 0xEE);
        if (format == 0)
            clrconv::ConvertUyvyToI420(packed.data(), out.data(), w, h, w * h, 0);
        else
            clrconv::ConvertYuy2ToI420(packed.data(), out.data(), w, h, w * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(out[y * w + x], packed[y * 2 * w + 2 * x + lumaAt]);
        for (int k = 0; k < h / 2; ++k)
            for (int p = 0; p < w / 2; ++p) {
                EXPECT_EQ(out[w * h + k * (w / 2) + p], packed[2 * k * 2 * w + 4 * p + cbAt]);
                EXPECT_EQ(out[w * h + w * h / 4 + k * (w / 2) + p], packed[2 * k * 2 * w + 4 * p + crAt]);
            }
    }
}

enum class Kind { kUyvy, kYuy2, kRgb };

void Convert(Kind kind, const uint8_t* src, uint8_t* dst, int w, int h, uint32_t options) {
    switch (kind) {
        case Kind::kUyvy:
            clrconv::ConvertUyvyToI420(src, dst, w, h, w * h, options);
            break;
        case Kind::kYuy2:
            clrconv::ConvertYuy2ToI420(src, dst, w, h, w * h, options);
            break;
        case Kind::kRgb:
            clrconv::ConvertI420ToRgb24(src, dst, w, h, w * h, options);
            break;
    }
}

TEST(ColourConvert, VectorPathMatchesPlainPath) {
    const auto levels = checkkernel::AvailableSimdLevels();
    if (levels.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    const int widths[] = {4, 6, 8, 14, 16, 18, 30, 32, 48, 168, 176, 180, 352};
    const int heights[] = {2, 3, 4, 9, 16};
    Rng rng(61);
    for (Kind kind : {Kind::kUyvy, Kind::kYuy2, Kind::kRgb}) {
        for (int w : widths) {
            for (int h : heights) {
                const size_t srcSize =
                    kind == Kind::kRgb ? static_cast<size_t>(w) * h * 3 / 2 : size_t(w) * h * 2;
                const size_t dstSize =
                    kind == Kind::kRgb ? static_cast<size_t>(w) * h * 3 : size_t(w) * h * 3 / 2;
                std::vector<uint8_t> src(srcSize);
                rng.FillBytes(src.data(), src.size());
                GuardedBuffer<uint8_t> plain(dstSize), vector(dstSize);
                {
                    checkkernel::ScopedSimdMask mask(0);
                    Convert(kind, src.data(), plain.Data(), w, h, cpuinfo::kCpuMmx);
                }
                Convert(kind, src.data(), vector.Data(), w, h, cpuinfo::kCpuMmx);
                ASSERT_TRUE(plain.GuardsIntact()) << w << "x" << h;
                ASSERT_TRUE(vector.GuardsIntact()) << w << "x" << h;
                ASSERT_EQ(checkkernel::FirstMismatch(plain.Data(), vector.Data(), dstSize), -1)
                    << "kind " << static_cast<int>(kind) << " " << w << "x" << h;
                // Without the MMX option the plain path runs whatever the processor has.
                GuardedBuffer<uint8_t> noOption(dstSize);
                Convert(kind, src.data(), noOption.Data(), w, h, 0);
                ASSERT_EQ(checkkernel::FirstMismatch(plain.Data(), noOption.Data(), dstSize), -1);
            }
        }
    }
}

TEST(ColourConvert, RejectsEmptyPictures) {
    uint8_t byte = 7;
    clrconv::ConvertI420ToRgb24(&byte, &byte, 0, 4, 0, 0);
    clrconv::ConvertUyvyToI420(&byte, &byte, 4, 0, 0, cpuinfo::kCpuMmx);
    clrconv::ConvertYuy2ToI420(nullptr, &byte, 4, 4, 16, 0);
    EXPECT_EQ(byte, 7);
}

}  // namespace
