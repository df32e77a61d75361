// The encoder's kernel table and the kernels that live only there (level limit and test,
// macroblock activity) and the shared block dequantisers: every SIMD level against the plain
// versions, extreme values included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CheckKernel.h"
#include "R263AVO/EncodeCoefficients.h"
#include "R263AVO/Interpolation.h"
#include "R263AVO/Kernels.h"
#include "R263AVO/MotionEst.h"
#include "R263AVO/Picture.h"
#include "R263AVO/Quant.h"
#include "R263COM/BlockPrediction.h"
#include "R263COM/Dequant.h"

namespace {

using checkkernel::Rng;
using r263avo::EncoderKernels;

std::vector<std::pair<std::string, EncoderKernels>> SimdTables() {
    std::vector<std::pair<std::string, EncoderKernels>> tables;
    for (const auto& level : checkkernel::AvailableSimdLevels())
        tables.emplace_back(level.name, r263avo::SelectEncoderKernels(level.mask));
    return tables;
}

TEST(EncoderKernels, MaskZeroSelectsEveryPlainVersion) {
    const EncoderKernels k = r263avo::SelectEncoderKernels(0);
    EXPECT_EQ(k.sad.full, r263avo::SadKernelsC().full);
    EXPECT_EQ(k.sad.planeFull, r263avo::SadKernelsC().planeFull);
    EXPECT_EQ(k.sad.planeRun, r263avo::SadKernelsC().planeRun);
    EXPECT_EQ(k.block.subtract8, r263avo::BlockKernelsC().subtract8);
    EXPECT_EQ(k.qdctInter, &r263avo::QdctInterBlockC);
    EXPECT_EQ(k.qdctIntra, &r263avo::QdctIntraBlockC);
    EXPECT_EQ(k.forwardDct, &r263avo::ForwardDctBlockC);
    EXPECT_EQ(k.idct, &r263avo::IdctBlockC);
    EXPECT_EQ(k.interpolateBlock, &r263com::InterpolateBlockC);
    EXPECT_EQ(k.interpolateRows, &r263avo::InterpolateRowsC);
    EXPECT_EQ(k.limitLevels, &r263avo::LimitLevelsC);
    EXPECT_EQ(k.activity, &r263avo::MacroblockActivity);
    EXPECT_EQ(k.dequant.inter, &r263com::DequantizeInterBlock);
    EXPECT_EQ(k.dequant.intra, &r263com::DequantizeIntraBlock);
}

// The plain level kernel is the limit and the scan test it replaces.
TEST(EncoderKernels, PlainLevelKernelEqualsLimitThenTest) {
    Rng rng(21);
    for (int round = 0; round < 2000; ++round) {
        int16_t block[64], expected[64];
        const int nonzero = rng.Range(0, 3);  // few nonzero levels, often none
        std::memset(block, 0, sizeof(block));
        for (int n = 0; n < nonzero; ++n)
            block[rng.Range(0, 63)] = static_cast<int16_t>(rng.Range(-400, 400));
        std::memcpy(expected, block, sizeof(block));
        const int first = rng.Range(0, 1);
        const bool limit = rng.Range(0, 1) == 1;
        if (limit) r263avo::LimitLevels(expected, first);
        const bool has = r263avo::BlockHasLevels(expected, first);
        ASSERT_EQ(r263avo::LimitLevelsC(block, first, limit), has);
        ASSERT_EQ(std::memcmp(block, expected, sizeof(block)), 0);
    }
}

void FillLevels(Rng& rng, int16_t block[64]) {
    static const int16_t extremes[] = {-32768, 32767, -128, -127, -126, 126, 127, 128, 0, 1, -1, 2047, -2048};
    const int style = rng.Range(0, 3);
    for (int i = 0; i < 64; ++i) {
        if (style == 0)
            block[i] = static_cast<int16_t>(rng.Next());
        else if (style == 1)
            block[i] = extremes[rng.Range(0, 12)];
        else
            block[i] = rng.Range(0, 9) == 0 ? static_cast<int16_t>(rng.Range(-300, 300)) : 0;
    }
    // Blocks whose only level is the intra DC, or is in the last position, or none at all.
    const int special = rng.Range(0, 7);
    if (special <= 2) std::memset(block, 0, 64 * sizeof(int16_t));
    if (special == 1) block[0] = static_cast<int16_t>(rng.Range(1, 254));
    if (special == 2) block[63] = rng.Range(0, 1) ? -1 : 1;
}

TEST(EncoderKernels, SimdLevelKernelMatchesPlain) {
    const auto tables = SimdTables();
    if (tables.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    Rng rng(22);
    for (int round = 0; round < 20000; ++round) {
        int16_t input[64];
        FillLevels(rng, input);
        for (int first : {0, 1}) {
            for (bool limit : {false, true}) {
                int16_t expected[64];
                std::memcpy(expected, input, sizeof(input));
                const bool has = r263avo::LimitLevelsC(expected, first, limit);
                for (const auto& [name, k] : tables) {
                    checkkernel::GuardedBuffer<int16_t> out(64);
                    std::memcpy(out.Data(), input, sizeof(input));
                    ASSERT_EQ(k.limitLevels(out.Data(), first, limit), has)
                        << name << " first " << first << " limit " << limit;
                    ASSERT_EQ(checkkernel::FirstMismatch(out.Data(), expected, 64), -1) << name;
                    ASSERT_TRUE(out.GuardsIntact()) << name;
                }
            }
        }
    }
}

TEST(EncoderKernels, SimdActivityMatchesPlain) {
    const auto tables = SimdTables();
    if (tables.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    Rng rng(23);
    for (int round = 0; round < 3000; ++round) {
        const int stride = rng.Range(16, 80);
        std::vector<uint8_t> cur(15 * stride + 16);
        const int style = rng.Range(0, 3);
        for (auto& v : cur) {
            v = style == 0
                    ? rng.Byte()
                    : (style == 1 ? (rng.Range(0, 1) ? 255 : 0) : static_cast<uint8_t>(style == 2 ? 255 : 0));
        }
        const int expected = r263avo::MacroblockActivity(cur.data(), stride);
        for (const auto& [name, k] : tables) ASSERT_EQ(k.activity(cur.data(), stride), expected) << name;
    }
}

// Every 16-bit level at every QP, in blocks of 64 consecutive values, and sparse blocks.
TEST(EncoderKernels, SimdDequantisersMatchPlainForEveryLevel) {
    if (checkkernel::AvailableSimdLevels().empty()) GTEST_SKIP() << "no SIMD level on this processor";
    std::vector<std::pair<std::string, r263com::DequantKernels>> sets;
    for (const auto& level : checkkernel::AvailableSimdLevels())
        sets.emplace_back(level.name, r263com::SelectDequantKernels(level.mask));
    // Both dequantisers of every SIMD level against the plain ones on one block.
    const auto expectSame = [&](const int16_t (&input)[64], int qp, const std::string& what) {
        int16_t inter[64], intra[64];
        std::memcpy(inter, input, sizeof(input));
        std::memcpy(intra, input, sizeof(input));
        r263com::DequantizeInterBlock(inter, qp);
        r263com::DequantizeIntraBlock(intra, qp);
        for (const auto& [name, k] : sets) {
            int16_t out[64];
            std::memcpy(out, input, sizeof(input));
            k.inter(out, qp);
            ASSERT_EQ(checkkernel::FirstMismatch(out, inter, 64), -1) << name << " inter qp " << qp << ", " << what;
            std::memcpy(out, input, sizeof(input));
            k.intra(out, qp);
            ASSERT_EQ(checkkernel::FirstMismatch(out, intra, 64), -1) << name << " intra qp " << qp << ", " << what;
        }
    };
    for (int qp = -1; qp <= 33; ++qp) {
        for (int start = -32768; start < 32768; start += 64) {
            int16_t input[64];
            for (int i = 0; i < 64; ++i) input[i] = static_cast<int16_t>(start + i);
            expectSame(input, qp, "from " + std::to_string(start));
            if (HasFatalFailure()) return;
        }
    }
    // Whole rows of zero levels (which the SIMD versions pass over) between rows that hold some.
    Rng rng(0xde0);
    for (int iter = 0; iter < 20000; ++iter) {
        int16_t input[64] = {};
        for (int r = 0; r < 8; ++r) {
            if (rng.Range(0, 2) != 0) continue;
            input[8 * r + rng.Range(0, 7)] = static_cast<int16_t>(rng.Range(-2100, 2100));
        }
        expectSame(input, rng.Range(1, 31), "sparse");
        if (HasFatalFailure()) return;
    }
}

}  // namespace

namespace {

// The shared add-and-clip of the decoder's inter blocks, for residuals over the whole 16-bit range.
TEST(SharedKernels, SimdAddClipMatchesPlain) {
    if (checkkernel::AvailableSimdLevels().empty()) GTEST_SKIP() << "no SIMD level on this processor";
    Rng rng(24);
    for (int round = 0; round < 3000; ++round) {
        const int predStride = rng.Range(8, 40), dstStride = rng.Range(8, 40);
        std::vector<uint8_t> pred(7 * predStride + 8);
        rng.FillBytes(pred.data(), pred.size());
        int16_t residual[64];
        const int style = rng.Range(0, 2);
        for (auto& r : residual) {
            r = style == 0 ? static_cast<int16_t>(rng.Next())
                           : static_cast<int16_t>(style == 1 ? rng.Range(-300, 300)
                                                             : (rng.Range(0, 1) ? 32767 : -32768));
        }
        checkkernel::GuardedBuffer<uint8_t> expected(7 * dstStride + 8), out(7 * dstStride + 8);
        r263com::AddClipBlock8C(pred.data(), predStride, residual, expected.Data(), dstStride);
        for (const auto& level : checkkernel::AvailableSimdLevels()) {
            out.Reset();
            r263com::SelectAddClipBlock(level.mask)(pred.data(), predStride, residual, out.Data(), dstStride);
            ASSERT_EQ(checkkernel::FirstMismatch(out.Data(), expected.Data(), out.Size()), -1) << level.name;
            ASSERT_TRUE(out.GuardsIntact()) << level.name;
        }
    }
}

}  // namespace

namespace {

// The motion search reading the reference plane, and interpolating its half-pel refinement from
// it, finds what it finds on the half-pel image alone, macroblock by macroblock, at every SIMD
// level. The vectors of the last column and the first row end on the picture's edge, where the
// refinement has fewer than eight positions to try.
TEST(EncoderKernels, SearchOnPlanesEqualsSearchOnTheHalfPelImage) {
    const int w = 96, h = 64;
    Rng rng(26);
    std::vector<uint8_t> ref(w * h), cur(w * h);
    // A smooth reference with texture, and the current picture a shifted copy plus noise, so that
    // the search moves and refines to half pixels.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ref[y * w + x] = static_cast<uint8_t>((x * 7 + y * 5) % 200 + rng.Range(0, 40));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int sx = std::min(w - 1, x + 2), sy = std::max(0, y - 1);
            cur[y * w + x] = static_cast<uint8_t>(std::clamp(ref[sy * w + sx] + rng.Range(-6, 6), 0, 255));
        }
    }
    std::vector<uint8_t> interp(static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h));
    r263avo::InterpolatePictureC(ref.data(), w, h, interp.data(), true);
    std::vector<std::pair<std::string, EncoderKernels>> tables = {
        {"plain", r263avo::SelectEncoderKernels(0)}};
    for (const auto& t : SimdTables()) tables.push_back(t);
    for (const auto& [name, k] : tables) {
        for (int speed = 1; speed <= 5; ++speed) {
            std::vector<r263avo::MbRecord> above(w / 16 + 1);
            r263avo::MbRecord left;
            r263avo::MotionSearchInput in;
            in.cur = cur.data();
            in.interp = interp.data();
            in.width = w;
            in.height = h;
            in.searchWindow = 15;
            in.preset = &r263avo::SpeedPresets[speed - 1];
            in.aboveRow = above.data();
            in.left = &left;
            in.sad = k.sad;
            r263avo::MotionSearchInput planes = in;
            planes.ref = ref.data();
            planes.activity = k.activity;
            for (int y = 0; y < h; y += 16) {
                for (int x = 0; x < w; x += 16) {
                    const auto a = r263avo::MotionSearch(in, x, y, x / 16);
                    const auto b = r263avo::MotionSearch(planes, x, y, x / 16);
                    ASSERT_EQ(a.record.hx, b.record.hx)
                        << name << " speed " << speed << " at " << x << "," << y;
                    ASSERT_EQ(a.record.hy, b.record.hy) << name;
                    ASSERT_EQ(a.type, b.type) << name;
                    ASSERT_EQ(a.sad, b.sad) << name;
                    above[x / 16] = a.record;
                    left = a.record;
                }
            }
        }
    }
}

}  // namespace
