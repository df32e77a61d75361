// AVX2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// Same data layout as the SSE2 version, two rows per 256-bit register (row j in the low lane,
// the next row in the high lane). The subsampled kernel has no AVX2 version: with only 8 samples
// a row it gained nothing over SSE2 (bench_kernels), so the SSE2 one stays in use.
#include <immintrin.h>

#include <cstdint>

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

}  // namespace

int Sad16FullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    const __m256i lowMask = _mm256_set1_epi16(0x00ff);
    int sum = 0;
    for (int j = 0; j < 16; j += 2) {
        const uint8_t* r0 = ref + 2 * j * refStride;
        const uint8_t* r1 = r0 + 2 * refStride;
        // Even bytes of the loads at 0 and odd bytes of the loads at 15: the 16 samples of each row.
        const __m256i even = _mm256_and_si256(LoadPair(r0, r1), lowMask);
        const __m256i odd = _mm256_srli_epi16(LoadPair(r0 + 15, r1 + 15), 8);
        const __m256i r = _mm256_packus_epi16(even, odd);
        const __m256i c = LoadPair(cur + j * curStride, cur + (j + 1) * curStride);
        const __m256i s = _mm256_sad_epu8(c, r);
        // Partial sums only grow, so one test after the pair finds any exit; the first row of the
        // pair is then tested on its own to return the same partial sum as the row-by-row loop.
        const int first = sum + LowLaneSum(s);
        sum = first + HighLaneSum(s);
        if (sum > limit) return first > limit ? first : sum;
    }
    return sum;
}

}  // namespace r263avo
