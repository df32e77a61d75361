// SSE2 half-sample interpolation of predicted blocks, bit-exact with InterpolateBlockC.
#include <emmintrin.h>

#include "../BlockPrediction.h"

namespace r263com {
namespace {

// 8 or 16 samples of one row.
template <int Size>
inline __m128i Load(const uint8_t* p) {
    if constexpr (Size == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    }
}

template <int Size>
inline void Store(uint8_t* p, __m128i v) {
    if constexpr (Size == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    }
}

// (a + b + 1 - r) >> 1: the rounding-up average, less 1 where r = 1 and a + b is odd.
inline __m128i Average2(__m128i a, __m128i b, __m128i roundingMask) {
    const __m128i up = _mm_avg_epu8(a, b);
    return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), roundingMask));
}

template <int Size>
void Interpolate(const uint8_t* src, int stride, int hx, int hy, int rounding, uint8_t* dst, int dstStride) {
    if (!hx && !hy) {
        for (int y = 0; y < Size; ++y) Store<Size>(dst + y * dstStride, Load<Size>(src + y * stride));
        return;
    }
    if (!hx || !hy) {
        const __m128i mask = _mm_set1_epi8(static_cast<char>(rounding ? 1 : 0));
        const int step = hx ? 1 : stride;
        for (int y = 0; y < Size; ++y) {
            const uint8_t* s = src + y * stride;
            Store<Size>(dst + y * dstStride, Average2(Load<Size>(s), Load<Size>(s + step), mask));
        }
        return;
    }
    // (a + b + c + d + 2 - r) >> 2 from the byte averages x = avg(a, b) and y = avg(c, d), with
    // sx and sy the low bits of a ^ b and c ^ d: a + b + c + d = 2 (x + y) - sx - sy, so avg(x, y)
    // is one too high exactly when x + y is odd and (rounding 0) sx or sy is set, or (rounding 1)
    // when x + y is odd or both are set. Each row's (c, d) are the next row's (a, b).
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = Load<Size>(src), b = Load<Size>(src + 1);
    __m128i x = _mm_avg_epu8(a, b), sx = _mm_xor_si128(a, b);
    for (int y = 0; y < Size; ++y) {
        const uint8_t* s = src + (y + 1) * stride;
        const __m128i c = Load<Size>(s), d = Load<Size>(s + 1);
        const __m128i yv = _mm_avg_epu8(c, d), sy = _mm_xor_si128(c, d);
        const __m128i odd = _mm_xor_si128(x, yv);
        const __m128i high = rounding ? _mm_or_si128(odd, _mm_and_si128(sx, sy))
                                      : _mm_and_si128(odd, _mm_or_si128(sx, sy));
        Store<Size>(dst + y * dstStride, _mm_sub_epi8(_mm_avg_epu8(x, yv), _mm_and_si128(high, one)));
        x = yv;
        sx = sy;
    }
}

}  // namespace

void InterpolateBlockSse2(const uint8_t* src, int stride, int hx, int hy, int rounding, int size,
                          uint8_t* dst, int dstStride) {
    if (size == 16) {
        Interpolate<16>(src, stride, hx, hy, rounding, dst, dstStride);
    } else {
        Interpolate<8>(src, stride, hx, hy, rounding, dst, dstStride);
    }
}

// Adds with signed 16-bit saturation and packs with unsigned saturation: a saturated sum lies
// beyond 0..255 exactly when the true sum does, so the result is the plain clip for any residual.
void AddClipBlock8Sse2(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                       int dstStride) {
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        const __m128i p0 = _mm_unpacklo_epi8(Load<8>(pred + y * predStride), zero);
        const __m128i p1 = _mm_unpacklo_epi8(Load<8>(pred + (y + 1) * predStride), zero);
        const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8 * y));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8 * y + 8));
        const __m128i out = _mm_packus_epi16(_mm_adds_epi16(p0, r0), _mm_adds_epi16(p1, r1));
        Store<8>(dst + y * dstStride, out);
        Store<8>(dst + (y + 1) * dstStride, _mm_srli_si128(out, 8));
    }
}

}  // namespace r263com
