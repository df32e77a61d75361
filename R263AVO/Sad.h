// Sum-of-absolute-differences kernels of the motion search, with run-time dispatch.
//
// `cur` points at the top-left sample of the 16x16 current block (row stride curStride).
// `ref` points at a sample of the half-pel interpolated reference (row stride refStride, see
// Picture.h); the kernels read every second sample of every second row from it, so the same
// kernel serves whole-pixel positions (ref at (2X, 2Y)) and half-pel positions (ref at (u, v)).
// All kernels stop early: after each row the partial sum is compared with `limit` and returned at
// once when greater. A limit of 65535 never stops them. (The SIMD versions may read a few rows
// more before they test, but return the same partial sum.)
//
// The plane kernels take a plain picture plane as reference instead (row j at ref + j * refStride,
// sample i at ref[i]): for whole-pixel positions they give the same results as the half-pel
// kernels on that plane's half-pel image, whose even samples are the plane's samples.
#pragma once

#include <cstdint>

namespace r263avo {

using Sad16Fn = int (*)(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);

// A run of n plane positions of one 16x16 block (block and plane rows both `stride` apart), in
// order, each with the lowest cost so far as its limit:
//   costs[i] = planeFull(cur, stride, refs[i], stride, *best); *best = costs[i] when lower.
// A step of the motion search and its half-pel refinement are such runs; one call lets a kernel
// keep the current block in registers for all the positions.
using Sad16RunFn = void (*)(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* best,
                            int* costs);

// The half-pel positions next to a whole-pixel position, interpolated from the plain plane as the
// prediction interpolates them (one half offset (a + b + 1) >> 1, two (a + b + c + d + 2) >> 2).
// `ref` points at the whole-pixel position's top-left sample, row stride refStride.
// The whole SAD at half offset (dx, dy), each in -1..1; only the samples it needs are read.
int Sad16PlaneHalfC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int dx, int dy);
// The eight offsets around the position, in the order of a ring's costs.
constexpr int kHalfRing[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
// The whole SADs of the ring: costs[k] = Sad16PlaneHalfC(.., kHalfRing[k]); rows and columns
// -1..16 around ref are read.
using Sad16HalfRingFn = void (*)(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride,
                                 int costs[8]);

struct SadKernels {
    // Full 16x16 SAD (Sad16Full for whole-pixel positions, Sad16Half for half-pel positions).
    Sad16Fn full;
    // Rows and columns 0, 2, ..., 14 only (64 samples); the full result is multiplied by 4, an
    // early-exit result is the partial sum without the factor.
    Sad16Fn sub;
    // full and sub on a plain plane (null: the search uses the half-pel kernels only).
    Sad16Fn planeFull = nullptr;
    Sad16Fn planeSub = nullptr;
    // Runs of planeFull (null: the search calls planeFull one position at a time).
    Sad16RunFn planeRun = nullptr;
    Sad16HalfRingFn halfRing = nullptr;  // the half-pel refinement on a plain plane
};

// The plain C++ reference kernels.
const SadKernels& SadKernelsC();
// The best kernels for the given cpuinfo SIMD flags.
SadKernels SelectSadKernels(uint32_t simdFlags);
// The same for this processor (cpuinfo::SimdFlags(), read on every call so that a mask set in a
// test takes effect).
SadKernels SelectSadKernels();

}  // namespace r263avo
