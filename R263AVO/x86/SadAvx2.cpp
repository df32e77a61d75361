// AVX2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// Same data layout as the SSE2 version, two rows per 256-bit register (row j in the low lane,
// the next row in the high lane). The subsampled kernel has no AVX2 version: with only 8 samples
// a row it gained nothing over SSE2 (bench_kernels), so the SSE2 one stays in use.
#include <immintrin.h>

#include <cstdint>

#include "SadPlane.h"

namespace r263avo {

namespace {

inline __m256i LoadPair(const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// Row sums of PSADBW results: lane 0 (qwords 0 + 1) and lane 1 (qwords 2 + 3).
inline int LowLaneSum(__m256i s) {
    const __m128i lo = _mm256_castsi256_si128(s);
    return _mm_cvtsi128_si32(lo) + _mm_cvtsi128_si32(_mm_srli_si128(lo, 8));
}
inline int HighLaneSum(__m256i s) {
    const __m128i hi = _mm256_extracti128_si256(s, 1);
    return _mm_cvtsi128_si32(hi) + _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
}

inline int Total(__m256i s) {
    const __m128i t = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    return _mm_cvtsi128_si32(_mm_add_epi64(t, _mm_srli_si128(t, 8)));
}

// PSADBW of rows j (low lane) and j + 1 (high lane).
inline __m256i RowPair(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int j) {
    const __m256i lowMask = _mm256_set1_epi16(0x00ff);
    const uint8_t* r0 = ref + 2 * j * refStride;
    const uint8_t* r1 = r0 + 2 * refStride;
    // Even bytes of the loads at 0 and odd bytes of the loads at 15: the 16 samples of each row.
    const __m256i even = _mm256_and_si256(LoadPair(r0, r1), lowMask);
    const __m256i odd = _mm256_srli_epi16(LoadPair(r0 + 15, r1 + 15), 8);
    const __m256i r = _mm256_packus_epi16(even, odd);
    const __m256i c = LoadPair(cur + j * curStride, cur + (j + 1) * curStride);
    return _mm256_sad_epu8(c, r);
}

}  // namespace

int Sad16FullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    // No 16x16 sum exceeds 256 x 255: such a limit needs no tests.
    if (limit >= 256 * 255) {
        __m256i acc = _mm256_setzero_si256();
        for (int j = 0; j < 16; j += 2)
            acc = _mm256_add_epi64(acc, RowPair(cur, curStride, ref, refStride, j));
        return Total(acc);
    }
    int sum = 0;
    for (int j = 0; j < 16; j += 4) {
        const __m256i a = RowPair(cur, curStride, ref, refStride, j);
        const __m256i b = RowPair(cur, curStride, ref, refStride, j + 2);
        // Partial sums only grow, so one test after four rows finds any exit; the rows are then
        // added one by one to return the same partial sum as the row-by-row loop.
        const int total = sum + Total(_mm256_add_epi64(a, b));
        if (total > limit) {
            int partial = sum + LowLaneSum(a);
            if (partial > limit) return partial;
            partial += HighLaneSum(a);
            if (partial > limit) return partial;
            partial += LowLaneSum(b);
            return partial > limit ? partial : total;
        }
        sum = total;
    }
    return sum;
}

// The plain-plane kernels of SadPlane.h with VEX encoding.
int Sad16PlaneFullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<false>(cur, curStride, ref, refStride, limit);
}

int Sad16PlaneSubAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<true>(cur, curStride, ref, refStride, limit);
}

}  // namespace r263avo
