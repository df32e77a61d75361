// AVX2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// Same data layout as the SSE2 version, two rows per 256-bit register (row j in the low lane,
// the next row in the high lane). The per-row sums are taken out in row order and compared with
// the limit after each row, so the early exit and its partial sum equal the C version's.
#include <immintrin.h>

#include <cstdint>

namespace r263avo {

namespace {

inline __m256i LoadPair(const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
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
        sum += LowLaneSum(s);
        if (sum > limit) return sum;
        sum += HighLaneSum(s);
        if (sum > limit) return sum;
    }
    return sum;
}

int Sad16SubAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    const __m256i byteMask = _mm256_set1_epi32(0xff);
    const __m256i wordMask = _mm256_set1_epi16(0x00ff);
    int sum = 0;
    // Sampled rows j and j + 2 in the low lane, j + 4 and j + 6 in the high lane; within a lane
    // the low 8 bytes are the first row and the high 8 the second after packing.
    for (int j = 0; j < 16; j += 8) {
        const uint8_t* r = ref + 2 * j * refStride;
        const int rs4 = 4 * refStride;  // two pixel rows in the half-pel image
        const __m256i a0 = _mm256_and_si256(LoadPair(r, r + 2 * rs4), byteMask);
        const __m256i b0 = _mm256_srli_epi32(LoadPair(r + 13, r + 2 * rs4 + 13), 24);
        const __m256i a1 = _mm256_and_si256(LoadPair(r + rs4, r + 3 * rs4), byteMask);
        const __m256i b1 = _mm256_srli_epi32(LoadPair(r + rs4 + 13, r + 3 * rs4 + 13), 24);
        const __m256i rw = _mm256_packus_epi16(_mm256_packs_epi32(a0, b0), _mm256_packs_epi32(a1, b1));
        const uint8_t* c = cur + j * curStride;
        const __m256i c0 = _mm256_and_si256(LoadPair(c, c + 4 * curStride), wordMask);
        const __m256i c1 = _mm256_and_si256(LoadPair(c + 2 * curStride, c + 6 * curStride), wordMask);
        const __m256i cw = _mm256_packus_epi16(c0, c1);
        const __m256i s = _mm256_sad_epu8(cw, rw);
        const __m128i lo = _mm256_castsi256_si128(s);
        const __m128i hi = _mm256_extracti128_si256(s, 1);
        sum += _mm_cvtsi128_si32(lo);
        if (sum > limit) return sum;
        sum += _mm_cvtsi128_si32(_mm_srli_si128(lo, 8));
        if (sum > limit) return sum;
        sum += _mm_cvtsi128_si32(hi);
        if (sum > limit) return sum;
        sum += _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
        if (sum > limit) return sum;
    }
    return sum * 4;
}

}  // namespace r263avo
