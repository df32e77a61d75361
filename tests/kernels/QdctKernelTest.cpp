// The SIMD forward transforms against the plain reference: random and worst-case blocks for every
// quantiser and speed preset (the inter blocks also two at a time through the pair kernels), blocks on both sides of the inter early-exit thresholds, and blocks
// outside the encoder's range (which the SIMD versions hand to the plain code), all written into
// guard-padded buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CheckKernel.h"
#include "R263AVO/Dct.h"
#include "R263AVO/Qdct.h"

namespace {

using checkkernel::GuardedBuffer;
using checkkernel::Rng;
using Block = std::vector<int16_t>;

// One speed preset row: value 4 (the table parameter) and values 5 and 6 (row and column limits).
struct Preset {
    int p, rowLimit, colLimit;
};
constexpr Preset kPresets[] = {{1, 8, 8}, {10, 8, 4}, {25, 4, 4}, {35, 2, 2}, {45, 2, 1}};

const r263avo::InterQdctTables& Tables(int p) {
    static std::vector<r263avo::InterQdctTables> tables = [] {
        std::vector<r263avo::InterQdctTables> t(std::size(kPresets));
        for (size_t i = 0; i < t.size(); ++i) r263avo::InitInterQdctTables(t[i], kPresets[i].p);
        return t;
    }();
    for (size_t i = 0; i < std::size(kPresets); ++i) {
        if (kPresets[i].p == p) return tables[i];
    }
    ADD_FAILURE() << "no tables for p " << p;
    return tables[0];
}

// Runs `reference` on a copy of the block, then each SIMD level's version (from `select`) on a
// guarded copy, and compares. Returns the reference output.
using Kernel = std::function<void(int16_t*)>;
Block ExpectSame(const Block& input, const Kernel& reference, const std::function<Kernel(uint32_t)>& select,
                 const std::string& what) {
    Block expected = input;
    reference(expected.data());
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        GuardedBuffer<int16_t> out(64, static_cast<int16_t>(0x5A5A));
        std::copy(input.begin(), input.end(), out.Data());
        select(level.mask)(out.Data());
        EXPECT_TRUE(out.GuardsIntact()) << level.name << " wrote outside the block (" << what << ")";
        const long at = checkkernel::FirstMismatch(expected.data(), out.Data(), 64);
        EXPECT_EQ(-1, at) << level.name << " differs at " << at << " (" << what
                          << "): " << (at >= 0 ? expected[at] : 0) << " vs " << (at >= 0 ? out.Data()[at] : 0)
                          << "; seed " << checkkernel::RunSeed();
    }
    return expected;
}

// Each level's pair kernel on `input` beside the block the previous call tested, in both orders,
// against the plain one-block kernel: outputs, guards and the bits telling which block has levels.
// So every block of the inter tests also passes through the pair path, next to partners that take
// other early exits (or none, or are out of range).
void ExpectSamePairs(const Block& input, const r263avo::InterQdctTables& tables, int qp, int rl, int cl,
                     const std::string& where) {
    static Block partner(64, 0);
    Block expectedInput = input, expectedPartner = partner;
    const int levelsInput = r263avo::QdctInterBlockC(expectedInput.data(), tables, qp, rl, cl) ? 1 : 0;
    const int levelsPartner = r263avo::QdctInterBlockC(expectedPartner.data(), tables, qp, rl, cl) ? 1 : 0;
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        const r263avo::QdctInterPairFunction pair = r263avo::SelectQdctInterPair(level.mask);
        for (const bool inputFirst : {true, false}) {
            GuardedBuffer<int16_t> a(64, static_cast<int16_t>(0x5A5A)), b(64, static_cast<int16_t>(0x5A5A));
            std::copy(input.begin(), input.end(), inputFirst ? a.Data() : b.Data());
            std::copy(partner.begin(), partner.end(), inputFirst ? b.Data() : a.Data());
            const int levels = pair(a.Data(), b.Data(), tables, qp, rl, cl);
            const int16_t* outInput = inputFirst ? a.Data() : b.Data();
            const int16_t* outPartner = inputFirst ? b.Data() : a.Data();
            const std::string order = inputFirst ? " (pair, first)" : " (pair, second)";
            EXPECT_TRUE(a.GuardsIntact() && b.GuardsIntact()) << level.name << " wrote outside" << order << where;
            EXPECT_EQ(-1, checkkernel::FirstMismatch(expectedInput.data(), outInput, 64))
                << level.name << order << where << "; seed " << checkkernel::RunSeed();
            EXPECT_EQ(-1, checkkernel::FirstMismatch(expectedPartner.data(), outPartner, 64))
                << level.name << " partner" << order << where;
            const int expected = inputFirst ? levelsInput | levelsPartner << 1 : levelsPartner | levelsInput << 1;
            EXPECT_EQ(expected, levels) << level.name << order << where;
        }
    }
    partner = input;
}

Block ExpectSameInter(const Block& input, const Preset& preset, int qp, const std::string& what,
                      int rowLimit = -2, int colLimit = -2) {
    const r263avo::InterQdctTables& tables = Tables(preset.p);
    const int rl = rowLimit == -2 ? preset.rowLimit : rowLimit;
    const int cl = colLimit == -2 ? preset.colLimit : colLimit;
    const std::string where = what + ", p " + std::to_string(preset.p) + " limits " + std::to_string(rl) +
                              "/" + std::to_string(cl) + " qp " + std::to_string(qp);
    ExpectSamePairs(input, tables, qp, rl, cl, where);
    return ExpectSame(
        input, [&](int16_t* b) { r263avo::QdctInterBlockC(b, tables, qp, rl, cl); },
        [&](uint32_t mask) -> Kernel {
            const r263avo::QdctInterFunction f = r263avo::SelectQdctInter(mask);
            return [&tables, f, qp, rl, cl](int16_t* b) { f(b, tables, qp, rl, cl); };
        },
        where);
}

void ExpectSameIntra(const Block& input, int qp, const std::string& what) {
    ExpectSame(
        input, [qp](int16_t* b) { r263avo::QdctIntraBlockC(b, qp); },
        [qp](uint32_t mask) -> Kernel {
            const r263avo::QdctIntraFunction f = r263avo::SelectQdctIntra(mask);
            return [f, qp](int16_t* b) { f(b, qp); };
        },
        what + ", qp " + std::to_string(qp));
}

void ExpectSameDct(const Block& input, const std::string& what) {
    ExpectSame(
        input, r263avo::ForwardDctBlockC,
        [](uint32_t mask) -> Kernel { return r263avo::SelectForwardDct(mask); }, what);
}

bool AllZero(const Block& b) {
    return std::all_of(b.begin(), b.end(), [](int16_t v) { return v == 0; });
}

// Worst cases built from lo and hi: constant blocks, checkerboards, and the sign patterns of each
// of the 64 DCT basis functions (they drive single coefficients, and the sums inside the
// butterflies, to their extremes).
std::vector<std::pair<std::string, Block>> ExtremeBlocks(int16_t lo, int16_t hi) {
    std::vector<std::pair<std::string, Block>> blocks;
    blocks.push_back({"all lo", Block(64, lo)});
    blocks.push_back({"all hi", Block(64, hi)});
    Block checker(64), rows(64), cols(64);
    for (int i = 0; i < 64; ++i) {
        checker[i] = ((i / 8 + i % 8) % 2) ? lo : hi;
        rows[i] = (i / 8) % 2 ? lo : hi;
        cols[i] = (i % 8) % 2 ? lo : hi;
    }
    blocks.push_back({"checkerboard", checker});
    blocks.push_back({"alternating rows", rows});
    blocks.push_back({"alternating columns", cols});
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            Block b(64);
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c) {
                    const double w =
                        std::cos((2 * r + 1) * u * M_PI / 16) * std::cos((2 * c + 1) * v * M_PI / 16);
                    b[8 * r + c] = w >= 0 ? hi : lo;
                }
            }
            blocks.push_back({"basis signs " + std::to_string(u) + "," + std::to_string(v), b});
        }
    }
    return blocks;
}

}  // namespace

TEST(QdctKernel, SelectionFollowsFlags) {
    EXPECT_EQ(r263avo::QdctIntraFunction(r263avo::QdctIntraBlockC), r263avo::SelectQdctIntra(0));
    EXPECT_EQ(r263avo::QdctInterFunction(r263avo::QdctInterBlockC), r263avo::SelectQdctInter(0));
#if defined(TESSARO_X86)
    EXPECT_NE(r263avo::QdctInterPairFunction(r263avo::QdctInterPairAvx2), r263avo::SelectQdctInterPair(0));
#endif
    EXPECT_EQ(r263avo::ForwardDctFunction(r263avo::ForwardDctBlockC), r263avo::SelectForwardDct(0));
}

TEST(QdctKernel, IntraRandomAndExtremeBlocks) {
    Rng rng(0x17a);
    for (int qp = 0; qp <= 32; ++qp) {  // 0 and 32 are limited to 1 and 31
        for (int iter = 0; iter < 60; ++iter) {
            Block b(64);
            const int base = rng.Range(0, 255), spread = iter % 3 == 0 ? 255 : rng.Range(0, 40);
            for (auto& v : b) v = static_cast<int16_t>(std::clamp(base + rng.Range(-spread, spread), 0, 255));
            ExpectSameIntra(b, qp, "random pixels");
        }
        for (const auto& [name, b] : ExtremeBlocks(0, 255)) ExpectSameIntra(b, qp, name);
        if (HasFailure()) return;
    }
}

TEST(QdctKernel, ExactDctRandomAndExtremeBlocks) {
    Rng rng(0xdc7);
    for (int iter = 0; iter < 3000; ++iter) {
        Block b(64);
        const bool pixels = iter % 2 == 0;
        for (auto& v : b) v = static_cast<int16_t>(pixels ? rng.Range(0, 255) : rng.Range(-255, 255));
        ExpectSameDct(b, pixels ? "random pixels" : "random differences");
        if (HasFailure()) return;
    }
    for (const auto& [name, b] : ExtremeBlocks(0, 255)) ExpectSameDct(b, name + " 0/255");
    for (const auto& [name, b] : ExtremeBlocks(-255, 255)) ExpectSameDct(b, name + " -255/255");
}

TEST(QdctKernel, InterRandomAndExtremeBlocksForEveryPreset) {
    Rng rng(0x1e7e);
    for (const Preset& preset : kPresets) {
        for (int qp = 1; qp <= 31; ++qp) {
            for (int iter = 0; iter < 40; ++iter) {
                // Full-range differences, and small ones that sit around the early exits.
                const int spread = iter % 4 == 0 ? 255 : (iter % 4 == 1 ? 40 : rng.Range(1, 12));
                Block b(64);
                for (auto& v : b) v = static_cast<int16_t>(rng.Range(-spread, spread));
                ExpectSameInter(b, preset, qp, "random differences within " + std::to_string(spread));
            }
            for (const auto& [name, b] : ExtremeBlocks(-255, 255)) ExpectSameInter(b, preset, qp, name);
            if (HasFailure()) return;
        }
    }
}

// Every row and column limit, not just the preset ones (including the values that never fire).
TEST(QdctKernel, InterEveryEarlyExitLimit) {
    Rng rng(0x11e);
    for (const Preset& preset : kPresets) {
        for (int rowLimit = -1; rowLimit <= 8; ++rowLimit) {
            for (int colLimit = -1; colLimit <= 8; ++colLimit) {
                for (int iter = 0; iter < 12; ++iter) {
                    Block b(64, 0);
                    // Energy in a few random rows or columns only, so that some limits cut it off.
                    const int line = rng.Range(0, 7), amplitude = rng.Range(1, iter < 6 ? 30 : 255);
                    for (int i = 0; i < 8; ++i) {
                        const int16_t v = static_cast<int16_t>(rng.Range(-amplitude, amplitude));
                        b[iter % 2 ? 8 * line + i : 8 * i + line] = v;
                    }
                    ExpectSameInter(b, preset, rng.Range(1, 31), "energy in line " + std::to_string(line),
                                    rowLimit, colLimit);
                }
            }
            if (HasFailure()) return;
        }
    }
}

// For patterns that concentrate in one row or one horizontal frequency, the smallest amplitude at
// which the reference output becomes nonzero, and the amplitudes around it: the blocks just below
// and just above each early-exit threshold. Also checks that the sweep met both outcomes.
TEST(QdctKernel, InterBlocksAroundTheThresholds) {
    for (const Preset& preset : kPresets) {
        int zeroBlocks = 0, codedBlocks = 0;
        for (int qp : {1, 2, 5, 8, 13, 20, 31}) {
            for (int pattern = 0; pattern < 24; ++pattern) {
                const int line = pattern % 8;
                Block unit(64, 0);
                for (int i = 0; i < 8; ++i) {
                    if (pattern < 8)
                        unit[8 * line + i] = 1;  // a flat row
                    else if (pattern < 16)
                        unit[8 * i + line] = i % 2 ? -1 : 1;  // an alternating column
                    else
                        unit[8 * line + line] = 1;  // one sample on the diagonal
                }
                auto scaled = [&](int t) {
                    Block b(64);
                    for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(unit[i] * t);
                    return b;
                };
                int first = -1;
                for (int t = 0; t <= 255 && first < 0; ++t) {
                    if (!AllZero(ExpectSameInter(scaled(t), preset, qp,
                                                 "sweep pattern " + std::to_string(pattern))))
                        first = t;
                }
                for (int t : {first - 1, first, first + 1}) {
                    if (t < 0 || t > 255) continue;
                    for (int sign : {1, -1}) {
                        const Block out = ExpectSameInter(scaled(sign * t), preset, qp,
                                                          "threshold pattern " + std::to_string(pattern));
                        (AllZero(out) ? zeroBlocks : codedBlocks)++;
                    }
                }
                if (HasFailure()) return;
            }
        }
        EXPECT_GT(zeroBlocks, 0) << "p " << preset.p;
        EXPECT_GT(codedBlocks, 0) << "p " << preset.p;
    }
}

TEST(QdctKernel, SingleSamples) {
    for (int pos = 0; pos < 64; ++pos) {
        for (int16_t v : {int16_t(1), int16_t(-1), int16_t(16), int16_t(-17), int16_t(255), int16_t(-255)}) {
            Block b(64, 0);
            b[pos] = v;
            ExpectSameDct(b, "single sample at " + std::to_string(pos));
            if (v > 0) ExpectSameIntra(b, 1 + pos % 31, "single pixel at " + std::to_string(pos));
            for (const Preset& preset : kPresets) {
                ExpectSameInter(b, preset, 1 + pos % 31, "single difference at " + std::to_string(pos));
            }
        }
        if (HasFailure()) return;
    }
}

// Samples beyond -255..255 never come from the encoder; the SIMD versions must still agree (they
// pass such blocks to the plain code rather than overflow their 16-bit intermediates).
TEST(QdctKernel, OutOfRangeSamplesMatchReference) {
    Rng rng(0x0b);
    const int16_t values[] = {-32768, 32767, 256, -256, 1000, -1000, 0, 255, -255};
    for (int iter = 0; iter < 400; ++iter) {
        Block b(64);
        for (auto& v : b) v = values[rng.Range(0, static_cast<int>(std::size(values)) - 1)];
        if (iter % 2) {
            std::fill(b.begin(), b.end(), int16_t(0));
            b[rng.Range(0, 63)] = values[rng.Range(0, 5)];
        }
        ExpectSameDct(b, "out of range");
        ExpectSameIntra(b, rng.Range(1, 31), "out of range");
        ExpectSameInter(b, kPresets[iter % 5], rng.Range(1, 31), "out of range");
        if (HasFailure()) return;
    }
}

namespace {

// A block of differences whose magnitudes sum to exactly `sum` (at most 64 x 255), spread over
// the sample positions in `order` with signs from `sign`, each at most 255.
Block BlockWithSum(int sum, const std::vector<int>& order, const std::function<int(int)>& sign) {
    Block b(64, 0);
    const int used = std::max(1, std::min(64, static_cast<int>(order.size())));
    for (int k = 0; k < used && sum > 0; ++k) {
        // An even share for the positions left, never more than 255.
        const int share = std::min(255, (sum + used - k - 1) / (used - k));
        b[order[k]] = static_cast<int16_t>(sign(order[k]) * share);
        sum -= share;
    }
    return b;
}

}  // namespace

// The zero bounds hold for the plain version itself: a block whose magnitudes sum to the bound
// quantises to zero whatever its pattern, for every preset and quantiser. The patterns aim at
// single coefficients (basis signs, one or two spikes) and at the butterfly sums (every sample
// alike, halves); blocks one above the bound go through the passes. The SIMD versions, which
// skip the passes below the bounds, must give the plain output in every case.
TEST(QdctKernel, InterZeroBoundsHoldForEveryPatternAndAreExactInSimd) {
    Rng rng(0x2b0);
    std::vector<int> all(64), spikes;
    for (int i = 0; i < 64; ++i) all[i] = i;
    for (const Preset& preset : kPresets) {
        const r263avo::InterQdctTables& tables = Tables(preset.p);
        for (int qp = 1; qp <= 31; ++qp) {
            const int bound = tables.zeroSum[qp];
            ASSERT_LE(bound, 64 * 255);
            std::vector<std::pair<std::string, Block>> blocks;
            for (int sum : {bound, bound + 1}) {
                if (sum < 0) continue;
                const std::string at = sum == bound ? " at the bound" : " above the bound";
                blocks.push_back({"flat" + at, BlockWithSum(sum, all, [](int) { return 1; })});
                blocks.push_back(
                    {"halves" + at, BlockWithSum(sum, all, [](int i) { return i % 8 < 4 ? 1 : -1; })});
                for (int u = 0; u < 8; ++u) {
                    for (int v = 0; v < 8; ++v) {
                        auto basisSign = [u, v](int i) {
                            const double w = std::cos((2 * (i / 8) + 1) * u * M_PI / 16) *
                                             std::cos((2 * (i % 8) + 1) * v * M_PI / 16);
                            return w >= 0 ? 1 : -1;
                        };
                        blocks.push_back({"basis signs " + std::to_string(u) + "," + std::to_string(v) + at,
                                          BlockWithSum(sum, all, basisSign)});
                    }
                }
                for (int n = 0; n < 16; ++n) {
                    spikes = {rng.Range(0, 63), rng.Range(0, 63)};
                    if (n % 2 == 0) spikes.resize(1);
                    const int s = rng.Range(0, 1) ? 1 : -1;
                    blocks.push_back({"spikes" + at, BlockWithSum(sum, spikes, [s](int) { return s; })});
                    blocks.push_back({"random signs" + at, BlockWithSum(sum, all, [&rng](int) {
                                          return rng.Range(0, 1) ? 1 : -1;
                                      })});
                }
            }
            for (const auto& [name, block] : blocks) {
                int sum = 0;
                for (int16_t v : block) sum += std::abs(v);
                const Block out = ExpectSameInter(block, preset, qp, name);
                if (sum <= bound) {
                    ASSERT_TRUE(AllZero(out)) << name << ", p " << preset.p << " qp " << qp << " sum " << sum;
                }
            }
        }
    }
}

// Between the bound and a few times it the column-sum test decides many blocks: the SIMD output
// equals the plain one at every column limit, whether the test proves the block zero or not.
TEST(QdctKernel, InterColumnZeroBoundIsExact) {
    Rng rng(0x2b1);
    int zero = 0, coded = 0;
    for (const Preset& preset : kPresets) {
        const r263avo::InterQdctTables& tables = Tables(preset.p);
        for (int qp = 1; qp <= 31; ++qp) {
            const int bound = std::max(tables.zeroSum[qp], 8);
            for (int iter = 0; iter < 60; ++iter) {
                const int sum = rng.Range(bound, 4 * bound);
                std::vector<int> order(64);
                for (int i = 0; i < 64; ++i) order[i] = i;
                // Few or many positions, in random order.
                for (int i = 63; i > 0; --i) std::swap(order[i], order[rng.Range(0, i)]);
                order.resize(rng.Range(1, 64));
                const Block b = BlockWithSum(sum, order, [&rng](int) { return rng.Range(0, 1) ? 1 : -1; });
                const int colLimit = iter % 3 == 0 ? preset.colLimit : rng.Range(0, 8);
                const Block out = ExpectSameInter(b, preset, qp, "moderate sum", preset.rowLimit, colLimit);
                ++(AllZero(out) ? zero : coded);
            }
        }
    }
    // Both outcomes occur, so both sides of the test are compared.
    EXPECT_GT(zero, 100);
    EXPECT_GT(coded, 100);
}

// Every version tells whether it left a nonzero level, so that a caller can pass over the blocks
// that quantise to zero: the answer matches the plain output, for every early exit and for blocks
// the SIMD versions hand to the plain code.
TEST(QdctKernel, InterResultTellsWhetherALevelIsNonzero) {
    Rng rng(0x2b2);
    int zero = 0, coded = 0;
    for (const Preset& preset : kPresets) {
        const r263avo::InterQdctTables& tables = Tables(preset.p);
        for (int iter = 0; iter < 600; ++iter) {
            const int qp = rng.Range(1, 31);
            const int spread = iter % 5 == 0 ? 255 : rng.Range(1, 24);
            Block b(64);
            for (auto& v : b) v = static_cast<int16_t>(rng.Range(-spread, spread));
            if (iter % 97 == 0) b[rng.Range(0, 63)] = 400;  // outside the SIMD range
            const int rowLimit = iter % 3 == 0 ? rng.Range(0, 8) : preset.rowLimit;
            const int colLimit = iter % 3 == 1 ? rng.Range(0, 8) : preset.colLimit;
            Block expected = b;
            const bool plain = r263avo::QdctInterBlockC(expected.data(), tables, qp, rowLimit, colLimit);
            ASSERT_EQ(plain, !AllZero(expected)) << "plain, qp " << qp;
            ++(plain ? coded : zero);
            for (const auto& level : checkkernel::AvailableSimdLevels()) {
                Block out = b;
                const bool told =
                    r263avo::SelectQdctInter(level.mask)(out.data(), tables, qp, rowLimit, colLimit);
                ASSERT_EQ(out, expected)
                    << level.name << ", qp " << qp << "; seed " << checkkernel::RunSeed();
                ASSERT_EQ(told, plain) << level.name << ", qp " << qp << "; seed " << checkkernel::RunSeed();
            }
        }
    }
    EXPECT_GT(zero, 100);
    EXPECT_GT(coded, 100);
}

namespace {

int SumOfSquares(const Block& b) {
    int s = 0;
    for (int16_t v : b) s += v * v;
    return s;
}

// `pattern` (64 reals) scaled to integers with the largest sum of squares not above `bound`.
Block ScaledToSquares(const std::vector<double>& pattern, int bound) {
    double lo = 0, hi = 256;
    Block best(64, 0);
    for (int iter = 0; iter < 40; ++iter) {
        const double a = (lo + hi) / 2;
        Block b(64);
        for (int i = 0; i < 64; ++i)
            b[i] = static_cast<int16_t>(std::clamp(std::lround(a * pattern[i]), -255L, 255L));
        if (SumOfSquares(b) <= bound) {
            lo = a;
            best = b;
        } else {
            hi = a;
        }
    }
    return best;
}

}  // namespace

// The bound on the sum of squares holds for the plain version itself: every block up to it
// quantises to zero. The patterns that come closest are the DCT basis functions themselves
// (all the energy in one coefficient), scaled as far as the bound lets them, and their
// sign patterns; flat blocks, single spikes and random blocks as well. Blocks just above the bound
// go through the passes. The SIMD versions must give the plain output throughout.
TEST(QdctKernel, InterSquareBoundHoldsForEveryPatternAndIsExactInSimd) {
    Rng rng(0x2b3);
    for (const Preset& preset : kPresets) {
        const r263avo::InterQdctTables& tables = Tables(preset.p);
        for (int qp = 1; qp <= 31; ++qp) {
            const int bound = tables.zeroSquares[qp];
            ASSERT_LE(bound, 64 * 255 * 255);
            if (bound < 0) continue;
            std::vector<std::pair<std::string, std::vector<double>>> patterns;
            for (int u = 0; u < 8; ++u) {
                for (int v = 0; v < 8; ++v) {
                    std::vector<double> basis(64), signs(64);
                    for (int i = 0; i < 64; ++i) {
                        basis[i] = std::cos((2 * (i / 8) + 1) * u * M_PI / 16) *
                                   std::cos((2 * (i % 8) + 1) * v * M_PI / 16);
                        signs[i] = basis[i] >= 0 ? 1 : -1;
                    }
                    patterns.push_back({"basis " + std::to_string(u) + "," + std::to_string(v), basis});
                    patterns.push_back({"basis signs " + std::to_string(u) + "," + std::to_string(v), signs});
                }
            }
            patterns.push_back({"flat", std::vector<double>(64, 1.0)});
            for (int n = 0; n < 8; ++n) {
                std::vector<double> spike(64, 0.0), noise(64);
                spike[rng.Range(0, 63)] = rng.Range(0, 1) ? 1 : -1;
                for (auto& x : noise) x = rng.Range(-100, 100) / 100.0;
                patterns.push_back({"spike", spike});
                patterns.push_back({"random", noise});
            }
            for (const auto& [name, pattern] : patterns) {
                const Block at = ScaledToSquares(pattern, bound);
                const Block out = ExpectSameInter(at, preset, qp, name + " at the square bound");
                ASSERT_TRUE(AllZero(out)) << name << ", p " << preset.p << " qp " << qp << " squares "
                                          << SumOfSquares(at) << " of " << bound;
                // One step above: the largest sample grows by one.
                Block above = at;
                const auto it = std::max_element(above.begin(), above.end(), [](int16_t a, int16_t b) {
                    return std::abs(a) < std::abs(b);
                });
                if (std::abs(*it) < 255) *it = static_cast<int16_t>(*it + (*it < 0 ? -1 : 1));
                ExpectSameInter(above, preset, qp, name + " above the square bound");
            }
        }
    }
}
