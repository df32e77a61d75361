// The SAD kernels of every SIMD level against the plain C++ reference: same values in every case,
// early exits and their partial sums included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CheckKernel.h"
#include "R263AVO/Interpolation.h"
#include "R263AVO/Picture.h"
#include "R263AVO/Sad.h"

namespace {

using checkkernel::Rng;
using r263avo::Sad16Fn;
using r263avo::SadKernels;

// A 16x16 current block and the half-pel reference rows it is compared with, each in a heap
// buffer of exactly the bytes a kernel may touch (the block, and rows 0, 2, ..., 30 up to byte 30
// of the reference), so the address sanitizer reports any read outside.
struct SadInput {
    int curStride, refStride;
    std::vector<uint8_t> cur, ref;

    SadInput(int cs, int rs) : curStride(cs), refStride(rs), cur(15 * cs + 16), ref(30 * rs + 31) {}
};

SadInput RandomInput(Rng& rng) {
    SadInput in(rng.Range(16, 70), rng.Range(31, 120));
    // Mostly small differences so that random limits fall inside the range of partial sums.
    const bool similar = rng.Range(0, 1) == 1;
    rng.FillBytes(in.cur.data(), in.cur.size());
    for (size_t i = 0; i < in.ref.size(); ++i) {
        const int base = in.cur[i % in.cur.size()];
        in.ref[i] =
            similar ? static_cast<uint8_t>(std::clamp(base + rng.Range(-12, 12), 0, 255)) : rng.Byte();
    }
    return in;
}

SadInput FlatInput(int cs, int rs, uint8_t curValue, uint8_t refValue) {
    SadInput in(cs, rs);
    std::fill(in.cur.begin(), in.cur.end(), curValue);
    std::fill(in.ref.begin(), in.ref.end(), refValue);
    return in;
}

int CallSad(Sad16Fn fn, const SadInput& in, int limit) {
    return fn(in.cur.data(), in.curStride, in.ref.data(), in.refStride, limit);
}

// Every kernel pair of a SIMD level against C for one input and a set of limits.
void ExpectSameAsC(const SadInput& in, const std::vector<int>& limits) {
    const SadKernels& c = r263avo::SadKernelsC();
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        checkkernel::ScopedSimdMask mask(level.mask);
        const SadKernels simd = r263avo::SelectSadKernels();
        for (int limit : limits) {
            SCOPED_TRACE(std::string(level.name) + " limit " + std::to_string(limit) + " strides " +
                         std::to_string(in.curStride) + "/" + std::to_string(in.refStride));
            EXPECT_EQ(CallSad(simd.full, in, limit), CallSad(c.full, in, limit)) << "full";
            EXPECT_EQ(CallSad(simd.sub, in, limit), CallSad(c.sub, in, limit)) << "sub";
            // The same bytes read as a plain plane (rows refStride apart).
            EXPECT_EQ(CallSad(simd.planeFull, in, limit), CallSad(c.planeFull, in, limit)) << "plane full";
            EXPECT_EQ(CallSad(simd.planeSub, in, limit), CallSad(c.planeSub, in, limit)) << "plane sub";
        }
    }
}

TEST(SadKernels, ReferenceExitsAfterTheRowThatPassesTheLimit) {
    const SadKernels& c = r263avo::SadKernelsC();
    const SadInput in = FlatInput(16, 40, 255, 0);  // every difference is 255
    // Full: 16 rows of 4080; sub: 8 sampled rows of 2040, times 4 at the end.
    EXPECT_EQ(CallSad(c.full, in, 65535), 65280);
    EXPECT_EQ(CallSad(c.sub, in, 65535), 65280);
    EXPECT_EQ(CallSad(c.full, in, 4080), 8160);  // equal is not greater: one more row
    EXPECT_EQ(CallSad(c.full, in, 4079), 4080);
    EXPECT_EQ(CallSad(c.sub, in, 5000), 6120);  // partial sum without the factor 4
    EXPECT_EQ(CallSad(c.sub, in, -100), 2040);
    EXPECT_EQ(CallSad(c.full, FlatInput(16, 40, 7, 7), -1), 0);  // a negative limit stops after row 0
}

TEST(SadKernels, ReferenceSamplesEverySecondHalfPelSample) {
    // Only the even samples of even rows take part: odd ones may hold anything.
    SadInput in = FlatInput(16, 33, 10, 10);
    for (int r = 0; r <= 30; ++r)
        for (int u = 0; u <= 30; ++u)
            if (r % 2 || u % 2) in.ref[r * 33 + u] = 200;
    EXPECT_EQ(CallSad(r263avo::SadKernelsC().full, in, 65535), 0);
    // The subsampled kernel only sees rows 0, 4, ..., 28 and samples 0, 4, ..., 28 of them.
    in.ref[2 * 33 + 2] = 0;
    EXPECT_EQ(CallSad(r263avo::SadKernelsC().sub, in, 65535), 0);
    in.ref[4 * 33 + 4] = 0;
    EXPECT_EQ(CallSad(r263avo::SadKernelsC().sub, in, 65535), 40);
}

TEST(SadKernels, PlainCWhenSimdIsMaskedOff) {
    checkkernel::ScopedSimdMask mask(0);
    const SadKernels k = r263avo::SelectSadKernels();
    EXPECT_EQ(k.full, r263avo::SadKernelsC().full);
    EXPECT_EQ(k.sub, r263avo::SadKernelsC().sub);
    EXPECT_EQ(k.planeFull, r263avo::SadKernelsC().planeFull);
    EXPECT_EQ(k.planeSub, r263avo::SadKernelsC().planeSub);
    EXPECT_EQ(k.planeRun, r263avo::SadKernelsC().planeRun);
    EXPECT_EQ(k.halfRing, r263avo::SadKernelsC().halfRing);
}

// The partial sums of the row-by-row loop after each row it tests, for the four reference
// layouts: every one of them (and one less) as a limit makes a kernel stop on that row.
std::vector<int> RowLimits(const SadInput& in) {
    std::vector<int> limits;
    for (int layout = 0; layout < 4; ++layout) {
        const bool halfPel = layout < 2, sub = layout % 2 == 1;
        const int step = sub ? 2 : 1;
        int sum = 0;
        for (int j = 0; j < 16; j += step) {
            const uint8_t* c = in.cur.data() + j * in.curStride;
            const uint8_t* r = in.ref.data() + (halfPel ? 2 * j : j) * in.refStride;
            for (int i = 0; i < 16; i += step) sum += std::abs(c[i] - r[halfPel ? 2 * i : i]);
            limits.push_back(sum);
            limits.push_back(sum - 1);
        }
    }
    return limits;
}

TEST(SadKernels, SimdStopsOnTheSameRowWithTheSamePartialSum) {
    if (checkkernel::AvailableSimdLevels().empty()) GTEST_SKIP() << "no SIMD level on this processor";
    Rng rng(7);
    for (int round = 0; round < 200; ++round) {
        const SadInput in = RandomInput(rng);
        ExpectSameAsC(in, RowLimits(in));
        if (HasFailure()) break;
    }
    // Rows of equal sums: the limit is passed exactly on a group boundary or inside a group.
    const SadInput flat = FlatInput(16, 40, 200, 0);
    ExpectSameAsC(flat, RowLimits(flat));
}

// The plane kernels on a reconstruction give what the half-pel kernels give at the even samples
// of its half-pel image, which is why the motion search may read the plane for whole pixels.
TEST(SadKernels, PlaneKernelsEqualTheHalfPelKernelsAtWholePixels) {
    const int w = 64, h = 48;
    Rng rng(8);
    std::vector<uint8_t> plane(w * h), cur(16 * 16);
    rng.FillBytes(plane.data(), plane.size());
    rng.FillBytes(cur.data(), cur.size());
    std::vector<uint8_t> interp(static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h));
    r263avo::InterpolatePictureC(plane.data(), w, h, interp.data(), true);
    std::vector<SadKernels> sets = {r263avo::SadKernelsC()};
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        checkkernel::ScopedSimdMask mask(level.mask);
        sets.push_back(r263avo::SelectSadKernels());
    }
    for (const SadKernels& k : sets) {
        for (int py = 0; py <= h - 16; py += 5) {
            for (int px = 0; px <= w - 16; px += 3) {
                const uint8_t* at = plane.data() + py * w + px;
                const uint8_t* half = r263avo::InterpAt(interp.data(), w, 2 * px, 2 * py);
                for (int limit : {0, 3000, 65535}) {
                    EXPECT_EQ(k.planeFull(cur.data(), 16, at, w, limit),
                              k.full(cur.data(), 16, half, r263avo::InterpStride(w), limit));
                    EXPECT_EQ(k.planeSub(cur.data(), 16, at, w, limit),
                              k.sub(cur.data(), 16, half, r263avo::InterpStride(w), limit));
                }
            }
        }
    }
}

TEST(SadKernels, SimdMatchesReferenceOnCorners) {
    const std::vector<int> limits = {-100, -1, 0, 1, 255, 2040, 4080, 4081, 30000, 65279, 65280, 65535};
    for (int cs : {16, 17, 63}) {
        for (int rs : {31, 32, 97}) {
            ExpectSameAsC(FlatInput(cs, rs, 0, 255), limits);
            ExpectSameAsC(FlatInput(cs, rs, 255, 0), limits);
            ExpectSameAsC(FlatInput(cs, rs, 128, 128), limits);
        }
    }
}

// A whole interpolated reference (QCIF size) in a buffer of exactly its size: the first and the
// last position whose samples still lie inside it, at the outer corners of the margin.
TEST(SadKernels, SimdMatchesReferenceAtTheMarginCorners) {
    const int w = 176, h = 144, stride = r263avo::InterpStride(w);
    Rng rng(6);
    std::vector<uint8_t> interp(static_cast<size_t>(stride) * r263avo::InterpRows(h));
    rng.FillBytes(interp.data(), interp.size());
    std::vector<uint8_t> cur(16 * 16);
    rng.FillBytes(cur.data(), cur.size());
    const size_t span = 30 * static_cast<size_t>(stride) + 31;  // what one block position covers
    const SadKernels& c = r263avo::SadKernelsC();
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        checkkernel::ScopedSimdMask mask(level.mask);
        const SadKernels simd = r263avo::SelectSadKernels();
        // Top-left and bottom-right corners, and the ends of the first and the last row.
        const size_t row = static_cast<size_t>(stride) - 31;
        for (const size_t start : {size_t{0}, interp.size() - span, row, interp.size() - span - row}) {
            for (int limit : {0, 5000, 65535}) {
                EXPECT_EQ(simd.full(cur.data(), 16, interp.data() + start, stride, limit),
                          c.full(cur.data(), 16, interp.data() + start, stride, limit))
                    << level.name << " at " << start;
                EXPECT_EQ(simd.sub(cur.data(), 16, interp.data() + start, stride, limit),
                          c.sub(cur.data(), 16, interp.data() + start, stride, limit))
                    << level.name << " at " << start;
            }
        }
    }
}

TEST(SadKernels, SimdMatchesReferenceOnRandomInputs) {
    if (checkkernel::AvailableSimdLevels().empty()) GTEST_SKIP() << "no SIMD level on this processor";
    Rng rng(1);
    for (int round = 0; round < 500; ++round) {
        const SadInput in = RandomInput(rng);
        // Limits around the true sum and the row sums make the early exit land on every row.
        const int full = CallSad(r263avo::SadKernelsC().full, in, 65535);
        const int sub = CallSad(r263avo::SadKernelsC().sub, in, 65535);
        ExpectSameAsC(in, {0, 1, 65535, rng.Range(-200, 65535), rng.Range(0, full), rng.Range(0, sub / 4),
                           full - 1, full, sub / 4 - 1});
        if (HasFailure()) break;
    }
}

// Runs of positions (what one search step hands over) against runs of single plain calls: the
// same costs and the same best cost, with starting bests that make the exits land on every row
// of every position, negative ones and ones no sum passes included.
TEST(SadKernels, RunsMatchSinglePlainCallsInOrder) {
    const int w = 64, h = 48;
    Rng rng(9);
    std::vector<uint8_t> plane(w * h), cur(15 * w + 16);
    std::vector<SadKernels> sets = {r263avo::SadKernelsC()};
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        checkkernel::ScopedSimdMask mask(level.mask);
        sets.push_back(r263avo::SelectSadKernels());
    }
    const SadKernels& c = r263avo::SadKernelsC();
    for (int round = 0; round < 300; ++round) {
        // Similar pictures keep the sums near each other, so the best changes within a run.
        // The last rounds take the largest sums: every sample 255 against 0 (a full sum of 65280,
        // next to the 16-bit limits the kernels clamp to).
        const bool extreme = round >= 290;
        rng.FillBytes(cur.data(), cur.size());
        if (extreme) std::fill(cur.begin(), cur.end(), 255);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = extreme         ? 0
                       : round % 3 == 0 ? rng.Byte()
                                        : static_cast<uint8_t>(std::clamp(cur[i % cur.size()] + rng.Range(-9, 9), 0, 255));
        const int n = rng.Range(1, 8);
        const uint8_t* refs[8];
        for (int i = 0; i < n; ++i) refs[i] = plane.data() + rng.Range(0, h - 16) * w + rng.Range(0, w - 16);
        const int whole = c.planeFull(cur.data(), w, refs[0], w, 65535);
        int partial = 0;  // a partial sum of the first position: its exit row
        for (int j = 0, stop = rng.Range(0, 15); j <= stop; ++j)
            for (int i = 0; i < 16; ++i) partial += std::abs(cur[j * w + i] - refs[0][j * w + i]);
        for (const int start :
             {partial, partial - 1, whole, whole - 1, rng.Range(-300, 65535), -1, 65535, 65536, 65279}) {
            int expectBest = start, expect[8];
            for (int i = 0; i < n; ++i) {
                expect[i] = c.planeFull(cur.data(), w, refs[i], w, expectBest);
                if (expect[i] < expectBest) expectBest = expect[i];
            }
            for (const SadKernels& k : sets) {
                int best = start, costs[8];
                k.planeRun(cur.data(), w, refs, n, &best, costs);
                EXPECT_EQ(best, expectBest) << "start " << start;
                for (int i = 0; i < n; ++i) EXPECT_EQ(costs[i], expect[i]) << "position " << i << " start " << start;
            }
        }
        if (HasFailure()) break;
    }
}

// The ring's samples are the half-pel image's (InterpolatePictureC) at each of the nine offsets,
// and every level's ring gives the plain sums: similar and unrelated planes, planes of only 0 and
// 255 (every rounding case of the four-sample mean), odd strides, and centres on every row and
// column a ring may read from, the last one included: the plane ends with the last sample a
// ring reads, so the address sanitizer reports a read beyond it.
TEST(SadKernels, HalfRingsInterpolateAsTheHalfPelImage) {
    Rng rng(31);
    std::vector<std::pair<std::string, SadKernels>> sets;
    for (const auto& level : checkkernel::AvailableSimdLevels()) {
        checkkernel::ScopedSimdMask mask(level.mask);
        sets.emplace_back(level.name, r263avo::SelectSadKernels());
    }
    for (int round = 0; round < 200; ++round) {
        const int w = 2 * rng.Range(9, 30), h = 2 * rng.Range(9, 20), cs = rng.Range(16, 41);
        std::vector<uint8_t> plane(w * h), cur(15 * cs + 16);
        rng.FillBytes(cur.data(), cur.size());
        for (size_t i = 0; i < plane.size(); ++i) {
            if (round % 4 == 0) {
                plane[i] = rng.Range(0, 1) ? 255 : 0;
            } else {
                const int base = cur[i % cur.size()];
                plane[i] = round % 4 == 1 ? rng.Byte() : static_cast<uint8_t>(std::clamp(base + rng.Range(-9, 9), 0, 255));
            }
        }
        if (round % 8 == 0)
            for (auto& c : cur) c = rng.Range(0, 1) ? 255 : 0;
        std::vector<uint8_t> interp(static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h));
        r263avo::InterpolatePictureC(plane.data(), w, h, interp.data(), true);
        const int x = round % 3 == 0 ? w - 17 : (round % 3 == 1 ? 1 : rng.Range(1, w - 17));
        const int y = round % 5 == 0 ? h - 17 : (round % 5 == 1 ? 1 : rng.Range(1, h - 17));
        const uint8_t* centre = plane.data() + y * w + x;
        int expect[8];
        for (int k = 0; k < 8; ++k) {
            const int dx = r263avo::kHalfRing[k][0], dy = r263avo::kHalfRing[k][1];
            expect[k] = r263avo::SadKernelsC().full(cur.data(), cs,
                                                    r263avo::InterpAt(interp.data(), w, 2 * x + dx, 2 * y + dy),
                                                    r263avo::InterpStride(w), 65535);
            EXPECT_EQ(r263avo::Sad16PlaneHalfC(cur.data(), cs, centre, w, dx, dy), expect[k]) << dx << "," << dy;
        }
        EXPECT_EQ(r263avo::Sad16PlaneHalfC(cur.data(), cs, centre, w, 0, 0),
                  r263avo::SadKernelsC().planeFull(cur.data(), cs, centre, w, 65535));
        int plain[8];
        r263avo::SadKernelsC().halfRing(cur.data(), cs, centre, w, plain);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(plain[i], expect[i]) << "plain, position " << i;
        for (const auto& [name, k] : sets) {
            int costs[8];
            k.halfRing(cur.data(), cs, centre, w, costs);
            for (int i = 0; i < 8; ++i) EXPECT_EQ(costs[i], expect[i]) << name << ", position " << i << " round " << round;
        }
        if (HasFailure()) break;
    }
}

}  // namespace
