// The prediction and reconstruction block kernels of every SIMD level against the plain C++
// reference, with guarded outputs and inputs sized to exactly what a kernel may read.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "R263AVO/BlockOperations.h"
#include "CheckKernel.h"

namespace {

using checkkernel::GuardedBuffer;
using checkkernel::Rng;
using r263avo::BlockKernels;

// 8 rows of `stride` bytes, the last row only 8 long.
size_t BlockBytes(int stride) {
    return 7 * static_cast<size_t>(stride) + 8;
}

void ForEachLevel(const std::function<void(const char*, const BlockKernels&)>& check) {
    const auto levels = checkkernel::AvailableSimdLevels();
    if (levels.empty()) GTEST_SKIP() << "no SIMD level on this processor";
    for (const auto& level : levels) {
        checkkernel::ScopedSimdMask mask(level.mask);
        check(level.name, r263avo::SelectBlockKernels());
    }
}

TEST(BlockKernels, PlainCWhenSimdIsMaskedOff) {
    checkkernel::ScopedSimdMask mask(0);
    EXPECT_EQ(r263avo::SelectBlockKernels().addClip8, r263avo::BlockKernelsC().addClip8);
    EXPECT_EQ(r263avo::SelectBlockKernels().subtract16, r263avo::BlockKernelsC().subtract16);
}

TEST(BlockKernels, AddClipMatchesReference) {
    Rng rng(3);
    ForEachLevel([&](const char* name, const BlockKernels& simd) {
        for (int round = 0; round < 300; ++round) {
            const int predStride = rng.Range(8, 40), dstStride = rng.Range(8, 40);
            std::vector<uint8_t> pred(BlockBytes(predStride));
            int16_t block[64];
            const int kind = round % 4;
            for (auto& p : pred) p = kind == 1 ? 255 : (kind == 2 ? 0 : rng.Byte());
            for (auto& v : block) {
                // Residual range, the int16 extremes, or anything.
                v = static_cast<int16_t>(kind == 0   ? rng.Range(-300, 300)
                                         : kind == 1 ? (rng.Range(0, 1) ? 32767 : -32768)
                                         : kind == 2 ? rng.Range(-2, 2)
                                                     : rng.Range(-32768, 32767));
            }
            GuardedBuffer<uint8_t> want(BlockBytes(dstStride), 0x5a), got(BlockBytes(dstStride), 0x5a);
            r263avo::BlockKernelsC().addClip8(pred.data(), predStride, block, want.Data(), dstStride);
            simd.addClip8(pred.data(), predStride, block, got.Data(), dstStride);
            ASSERT_TRUE(got.GuardsIntact()) << name;
            ASSERT_EQ(checkkernel::FirstMismatch(got.Data(), want.Data(), want.Size()), -1)
                << name << " strides " << predStride << "/" << dstStride;
        }
    });
}

TEST(BlockKernels, SubtractMatchesReference) {
    Rng rng(4);
    ForEachLevel([&](const char* name, const BlockKernels& simd) {
        for (int round = 0; round < 300; ++round) {
            const int curStride = rng.Range(8, 40), predStride = rng.Range(8, 40);
            std::vector<uint8_t> cur(BlockBytes(curStride)), pred(BlockBytes(predStride));
            const int kind = round % 3;
            for (auto& c : cur) c = kind == 0 ? 0 : (kind == 1 ? 255 : rng.Byte());
            for (auto& p : pred) p = kind == 0 ? 255 : (kind == 1 ? 0 : rng.Byte());
            GuardedBuffer<int16_t> want(64, 0x5a5a), got(64, 0x5a5a);
            r263avo::BlockKernelsC().subtract8(cur.data(), curStride, pred.data(), predStride, want.Data());
            simd.subtract8(cur.data(), curStride, pred.data(), predStride, got.Data());
            ASSERT_TRUE(got.GuardsIntact()) << name;
            ASSERT_EQ(checkkernel::FirstMismatch(got.Data(), want.Data(), 64), -1) << name;
        }
    });
}

TEST(BlockKernels, MacroblockSubtractMatchesReferenceAndPlacesTheQuadrants) {
    Rng rng(5);
    // 16 rows of `stride` bytes, the last row only 16 long.
    auto bytes = [](int stride) { return 15 * static_cast<size_t>(stride) + 16; };
    auto check = [&](const char* name, const BlockKernels& k) {
        for (int round = 0; round < 300; ++round) {
            const int curStride = rng.Range(16, 64), predStride = rng.Range(16, 64);
            std::vector<uint8_t> cur(bytes(curStride)), pred(bytes(predStride));
            const int kind = round % 3;
            for (auto& c : cur) c = kind == 0 ? 0 : (kind == 1 ? 255 : rng.Byte());
            for (auto& p : pred) p = kind == 0 ? 255 : (kind == 1 ? 0 : rng.Byte());
            GuardedBuffer<int16_t> got(4 * 64, 0x5a5a);
            k.subtract16(cur.data(), curStride, pred.data(), predStride,
                         reinterpret_cast<int16_t(*)[64]>(got.Data()));
            ASSERT_TRUE(got.GuardsIntact()) << name;
            // Each quadrant against the one-block reference on its own corner.
            for (int b = 0; b < 4; ++b) {
                const int down = (b >> 1) * 8, right = (b & 1) * 8;
                int16_t want[64];
                r263avo::SubtractBlock8(cur.data() + down * curStride + right, curStride,
                                        pred.data() + down * predStride + right, predStride, want);
                ASSERT_EQ(checkkernel::FirstMismatch(got.Data() + 64 * b, want, 64), -1)
                    << name << " block " << b << " strides " << curStride << "/" << predStride;
            }
        }
    };
    check("C", r263avo::BlockKernelsC());
    ForEachLevel(check);
}

}  // namespace
