// SSE2 versions of the prediction and reconstruction block kernels (reference: BlockOperations.cpp).
//
// Subtraction widens both operands to 16 bits, so cur - pred is exact (-255..255). Add-and-clip
// adds with signed 16-bit saturation and packs with unsigned saturation: for any 16-bit block
// value the result is the same as PixelClip(pred + value) computed in int, because a saturated
// sum lies beyond 0..255 exactly when the true sum does. The luma fetch takes the even bytes of
// the bytes 0..30 of each half-pel row, like the SAD kernels, and reads nothing else.
#include <emmintrin.h>

#include <cstdint>

namespace r263avo {

namespace {

inline __m128i Load64(const void* p) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

}  // namespace

void SubtractBlock8Sse2(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                        int16_t block[64]) {
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 8; ++j, cur += curStride, pred += predStride) {
        const __m128i c = _mm_unpacklo_epi8(Load64(cur), zero);
        const __m128i p = _mm_unpacklo_epi8(Load64(pred), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * j), _mm_sub_epi16(c, p));
    }
}

void SubtractBlock16Sse2(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                         int16_t blocks[4][64]) {
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 16; ++j, cur += curStride, pred += predStride) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur));
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pred));
        // Row j of the left and the right quadrant of its half.
        int16_t* left = blocks[j < 8 ? 0 : 2] + 8 * (j & 7);
        int16_t* right = blocks[j < 8 ? 1 : 3] + 8 * (j & 7);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left),
                         _mm_sub_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(p, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(right),
                         _mm_sub_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(p, zero)));
    }
}

void AddClipBlock8Sse2(const uint8_t* pred, int predStride, const int16_t block[64], uint8_t* dst,
                       int dstStride) {
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 8; ++j, pred += predStride, dst += dstStride) {
        const __m128i p = _mm_unpacklo_epi8(Load64(pred), zero);
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * j));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(_mm_adds_epi16(p, b), zero));
    }
}

}  // namespace r263avo
