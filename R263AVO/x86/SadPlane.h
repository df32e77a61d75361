// The plain-plane SAD kernels (reference: Sad16PlaneFullC and Sad16PlaneSubC in Sad.cpp) on
// 128-bit registers, shared by the SSE2 file and the AVX2 file, which compiles them with VEX
// encoding (loads folded into PSADBW). Each file includes this header into its own translation
// unit, with its own instruction-set flags.
//
// Partial sums are tested every four rows (PSADBW rows are cheap next to the horizontal sum a
// test needs); when a group passes the limit its rows are added one by one to find the row where
// the plain loop stops, and that row's partial sum is returned. A limit no sum can pass skips
// the tests.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace r263avo::sad_simd {

// Internal linkage: the two files compile these with different instruction sets.
namespace {

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The sum of the two PSADBW halves.
inline int Total(__m128i s) {
    return _mm_cvtsi128_si32(_mm_add_epi32(s, _mm_srli_si128(s, 8)));
}

// Adds four row sums s[0..3] to `sum`. True (and the row-by-row loop's result in *out) when the
// limit is passed within them: the group is tested once, and only then row by row.
inline bool GroupPassesLimit(const __m128i s[4], int* sum, int limit, int* out) {
    const int total = *sum + Total(_mm_add_epi64(_mm_add_epi64(s[0], s[1]), _mm_add_epi64(s[2], s[3])));
    if (total <= limit) {
        *sum = total;
        return false;
    }
    int partial = *sum;
    for (int k = 0; k < 3; ++k) {
        partial += Total(s[k]);
        if (partial > limit) {
            *out = partial;
            return true;
        }
    }
    *out = total;
    return true;
}

// Largest sums of the full and the subsampled kernels: limits at or above them never stop.
constexpr int kMaxFullSad = 256 * 255;
constexpr int kMaxSubSad = 64 * 255;

template <bool kSub>
inline __m128i PlaneRow(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int j) {
    const __m128i c = Load(cur + j * curStride), r = Load(ref + j * refStride);
    if constexpr (!kSub) {
        return _mm_sad_epu8(c, r);
    } else {
        // Columns 0, 2, ..., 14: the odd bytes of both rows are cleared.
        const __m128i even = _mm_set1_epi16(0x00ff);
        return _mm_sad_epu8(_mm_and_si128(c, even), _mm_and_si128(r, even));
    }
}

// Full kernel (kSub false) or rows and columns 0, 2, ..., 14 (kSub true, result times 4 unless
// it stopped early).
template <bool kSub>
inline int PlaneSad(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    constexpr int kStep = kSub ? 2 : 1;
    constexpr int kFactor = kSub ? 4 : 1;
    if (limit >= (kSub ? kMaxSubSad : kMaxFullSad)) {
        __m128i acc = _mm_setzero_si128();
        for (int j = 0; j < 16; j += kStep)
            acc = _mm_add_epi64(acc, PlaneRow<kSub>(cur, curStride, ref, refStride, j));
        return Total(acc) * kFactor;
    }
    int sum = 0, out = 0;
    for (int j = 0; j < 16; j += 4 * kStep) {
        __m128i s[4];
        for (int k = 0; k < 4; ++k) s[k] = PlaneRow<kSub>(cur, curStride, ref, refStride, j + k * kStep);
        if (GroupPassesLimit(s, &sum, limit, &out)) return out;
    }
    return sum * kFactor;
}

}  // namespace
}  // namespace r263avo::sad_simd
