// The SIMD inverse DCTs against the plain reference: random coefficient blocks of several
// densities and ranges, and extreme inputs far outside what a valid stream carries (the encoder
// does not clip its reconstructed coefficients), written into guard-padded buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CheckKernel.h"
#include "R263AVO/Idct.h"

namespace {

using checkkernel::GuardedBuffer;
using checkkernel::Rng;

// Compares IdctBlockC with the version selected for each SIMD level on one block.
void ExpectSameAsC(const int16_t (&coefficients)[64], const std::string& what) {
    int16_t expected[64];
    std::copy(coefficients, coefficients + 64, expected);
    r263avo::IdctBlockC(expected);
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        const r263avo::IdctFunction fn = r263avo::SelectIdct(level.mask);
        GuardedBuffer<int16_t> out(64, static_cast<int16_t>(0x5A5A));
        std::copy(coefficients, coefficients + 64, out.Data());
        fn(out.Data());
        ASSERT_TRUE(out.GuardsIntact()) << level.name << " wrote outside the block (" << what << ")";
        const long at = checkkernel::FirstMismatch(expected, out.Data(), 64);
        ASSERT_EQ(-1, at) << level.name << " differs at " << at << " (" << what << "): " << expected[at]
                          << " vs " << out.Data()[at] << "; seed " << checkkernel::RunSeed();
    }
}

int16_t Clamp16(int v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

}  // namespace

TEST(IdctKernel, SelectionFollowsFlags) {
    EXPECT_EQ(r263avo::IdctFunction(r263avo::IdctBlockC), r263avo::SelectIdct(0));
}

TEST(IdctKernel, RandomBlocksMatchReference) {
    Rng rng(0x1dc7);
    struct Profile {
        int range;    // coefficients in -range..range-1
        int density;  // percent of nonzero coefficients
    };
    const Profile profiles[] = {{256, 100}, {2048, 100}, {2048, 10}, {32768, 100}, {32768, 5}, {8, 30}};
    for (const Profile& p : profiles) {
        for (int iter = 0; iter < 2000; ++iter) {
            int16_t block[64] = {};
            for (int i = 0; i < 64; ++i) {
                if (rng.Range(0, 99) < p.density) block[i] = Clamp16(rng.Range(-p.range, p.range - 1));
            }
            ExpectSameAsC(block,
                          "range " + std::to_string(p.range) + " density " + std::to_string(p.density));
            if (HasFatalFailure()) return;
        }
    }
}

TEST(IdctKernel, ExtremeBlocksMatchReference) {
    Rng rng(0xe7);
    const int16_t extremes[] = {-32768, 32767, -2048, 2047, -2049, 2048, 4095, -4096, 0, 1, -1};
    for (int iter = 0; iter < 3000; ++iter) {
        int16_t block[64];
        for (auto& v : block) v = extremes[rng.Range(0, static_cast<int>(std::size(extremes)) - 1)];
        ExpectSameAsC(block, "extreme mix");
        if (HasFatalFailure()) return;
    }
    // Single coefficients, and rows or columns whose AC part is zero (the reference's shortcuts).
    for (int pos = 0; pos < 64; ++pos) {
        for (int16_t v : {int16_t(-32768), int16_t(32767), int16_t(2047), int16_t(-2048)}) {
            int16_t block[64] = {};
            block[pos] = v;
            ExpectSameAsC(block, "single coefficient at " + std::to_string(pos));
            for (int r = 0; r < 8; ++r) block[8 * r] = v;
            ExpectSameAsC(block, "first column plus one at " + std::to_string(pos));
            if (HasFatalFailure()) return;
        }
    }
    int16_t all[64];
    for (int16_t v : {int16_t(-32768), int16_t(32767)}) {
        std::fill(all, all + 64, v);
        ExpectSameAsC(all, "all " + std::to_string(v));
        for (int i = 0; i < 64; ++i) all[i] = static_cast<int16_t>((i * 37) % 2 ? v : -v - 1);
        ExpectSameAsC(all, "alternating " + std::to_string(v));
    }
}

// Blocks whose coefficients all lie in the first row or all in the first column take a shortcut
// in the selected versions: random values of every range there, with and without one coefficient
// elsewhere (which must send the block to the full transform).
TEST(IdctKernel, FirstRowAndFirstColumnBlocksMatchReference) {
    Rng rng(0xf1c);
    for (int range : {8, 256, 2048, 32768}) {
        for (int iter = 0; iter < 1000; ++iter) {
            for (bool column : {false, true}) {
                int16_t block[64] = {};
                for (int k = 0; k < 8; ++k) {
                    if (rng.Range(0, 2) == 0) continue;
                    block[column ? 8 * k : k] = Clamp16(rng.Range(-range, range - 1));
                }
                const std::string what = std::string(column ? "first column" : "first row") + ", range " +
                                         std::to_string(range);
                ExpectSameAsC(block, what);
                block[rng.Range(9, 63)] = Clamp16(rng.Range(-range, range - 1) | 1);
                ExpectSameAsC(block, what + " and one more");
                if (HasFatalFailure()) return;
            }
        }
    }
}
