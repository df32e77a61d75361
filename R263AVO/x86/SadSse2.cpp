// SSE2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// The reference block lives in a half-pel image, so a pixel row of 16 samples is spread over the
// even bytes 0..30 of an interpolated row. Two 16-byte loads (at 0 and at 15) cover exactly those
// bytes: the even bytes of the first load and the odd bytes of the second are the 16 samples.
// Nothing outside the samples the C version reads is touched except the bytes between them.
// PSADBW sums exactly the same absolute differences as the C loop. The limit is tested once per
// pair of rows; since partial sums never decrease, an exit after the first row of the pair is
// then recognised separately, so the exit row and its partial sum are those of the C loop.
#include <emmintrin.h>

#include <cstdint>

namespace r263avo {

namespace {

// The 16 reference samples of one pixel row starting at r (bytes 0, 2, ..., 30).
inline __m128i LoadHalfPelRow(const uint8_t* r) {
    const __m128i lowMask = _mm_set1_epi16(0x00ff);
    const __m128i even = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r)), lowMask);
    const __m128i odd = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 15)), 8);
    return _mm_packus_epi16(even, odd);
}

// The 8 reference samples 0, 4, ..., 28 of a row as 16-bit words (bytes 0, 4, 8, 12 from a load at
// 0 and bytes 16, 20, 24, 28, the top bytes of the dwords of a load at 13).
inline __m128i LoadSubRowWords(const uint8_t* r) {
    const __m128i a =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r)), _mm_set1_epi32(0xff));
    const __m128i b = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 13)), 24);
    return _mm_packs_epi32(a, b);
}

// The 8 even samples 0, 2, ..., 14 of a current row as 16-bit words.
inline __m128i LoadEvenWords(const uint8_t* c) {
    return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), _mm_set1_epi16(0x00ff));
}

}  // namespace

int Sad16FullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    for (int j = 0; j < 16; j += 2) {
        const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + j * curStride));
        const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + (j + 1) * curStride));
        const __m128i s0 = _mm_sad_epu8(c0, LoadHalfPelRow(ref + 2 * j * refStride));
        const __m128i s1 = _mm_sad_epu8(c1, LoadHalfPelRow(ref + 2 * (j + 1) * refStride));
        // Partial sums only grow, so one test after the pair finds any exit; the first row of the
        // pair is then tested on its own to return the same partial sum as the row-by-row loop.
        const int first = sum + _mm_cvtsi128_si32(s0) + _mm_cvtsi128_si32(_mm_srli_si128(s0, 8));
        sum = first + _mm_cvtsi128_si32(s1) + _mm_cvtsi128_si32(_mm_srli_si128(s1, 8));
        if (sum > limit) return first > limit ? first : sum;
    }
    return sum;
}

int Sad16SubSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    // Two sampled rows (j and j + 2) per iteration: the low 8 bytes hold row j, the high 8 row j + 2.
    for (int j = 0; j < 16; j += 4) {
        const __m128i c =
            _mm_packus_epi16(LoadEvenWords(cur + j * curStride), LoadEvenWords(cur + (j + 2) * curStride));
        const __m128i r = _mm_packus_epi16(LoadSubRowWords(ref + 2 * j * refStride),
                                           LoadSubRowWords(ref + 2 * (j + 2) * refStride));
        const __m128i s = _mm_sad_epu8(c, r);
        const int first = sum + _mm_cvtsi128_si32(s);
        sum = first + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
        if (sum > limit) return first > limit ? first : sum;
    }
    return sum * 4;
}

}  // namespace r263avo
