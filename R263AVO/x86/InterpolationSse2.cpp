// SSE2 version of the half-pel interpolation of one pixel row (reference: InterpolateRowsC in
// Interpolation.cpp).
//
// PAVGB computes (a + b + 1) >> 1 exactly, which gives the horizontal and vertical half samples.
// The centre sample (a + b + c + d + 2) >> 2 is computed in 16-bit words, where the sum (at most
// 1022) cannot overflow. The last column repeats itself as the right neighbour, like the C version.
#include <emmintrin.h>

#include <cstdint>

#include "../Interpolation.h"
#include "../Picture.h"

namespace r263avo {

namespace {

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The 16 samples right of v's samples when v holds the last 16 of the row: v shifted down by one
// byte with its last byte repeated.
inline __m128i ShiftRepeatLast(__m128i v) {
    const __m128i lastByte = _mm_slli_si128(_mm_srli_si128(v, 15), 15);
    return _mm_or_si128(_mm_srli_si128(v, 1), lastByte);
}

inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    return _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(lo, two), 2),
                            _mm_srli_epi16(_mm_add_epi16(hi, two), 2));
}

// The samples at i..i+15 of a row and of the row below (a, c) and their right neighbours (b, d);
// in the last step of a row its last sample is its own right neighbour.
struct Quad {
    __m128i a, b, c, d;
};
inline Quad LoadQuad(const uint8_t* row, const uint8_t* below, int i, int width) {
    Quad q;
    q.a = Load(row + i);
    q.c = Load(below + i);
    const bool last = i + 16 == width;
    q.b = last ? ShiftRepeatLast(q.a) : Load(row + i + 1);
    q.d = last ? ShiftRepeatLast(q.c) : Load(below + i + 1);
    return q;
}

}  // namespace

void InterpolateRowsSse2(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0, uint8_t* out1) {
    int i = 0;
    for (; i + 16 <= width; i += 16) {
        const auto [a, b, c, d] = LoadQuad(row, below, i, width);
        const __m128i h = _mm_avg_epu8(a, b);
        const __m128i v = _mm_avg_epu8(a, c);
        const __m128i q = Average4(a, b, c, d);
        Store(out0 + 2 * i, _mm_unpacklo_epi8(a, h));
        Store(out0 + 2 * i + 16, _mm_unpackhi_epi8(a, h));
        Store(out1 + 2 * i, _mm_unpacklo_epi8(v, q));
        Store(out1 + 2 * i + 16, _mm_unpackhi_epi8(v, q));
    }
    // Widths that are not a multiple of 16 finish with the plain kernel (the rest of the row is a
    // row of its own: its last sample repeats itself as well).
    if (i < width) InterpolateRowsC(row + i, below + i, width - i, out0 + 2 * i, out1 + 2 * i);
}

}  // namespace r263avo
