// SSE2 bodies of the colour converters; bit-exact with the plain loops in ClrConv.cpp.
#include <emmintrin.h>

#include <cstdint>

#include "../ClrConvInternal.h"

namespace clrconv::sse2 {
namespace {

// 16-bit lanes holding the selected byte of each word: the low byte (offset 0) or the high one.
inline __m128i SelectBytes(__m128i v, int highByte) {
    return highByte ? _mm_srli_epi16(v, 8) : _mm_and_si128(v, _mm_set1_epi16(0x00FF));
}

}  // namespace

int Unpack422Row(const uint8_t* row, uint8_t* luma, int width, PackedLayout layout) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x + 16));
        const __m128i y = _mm_packus_epi16(SelectBytes(a, layout.luma), SelectBytes(b, layout.luma));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), y);
    }
    return x;
}

int Unpack422Chroma(const uint8_t* row, uint8_t* cb, uint8_t* cr, int pairs, PackedLayout layout) {
    // Cb and Cr sit at even offsets (0, 2) in UYVY and at odd offsets (1, 3) in YUY2, so one byte
    // selection per word leaves Cb and Cr alternating.
    const int chromaHigh = layout.cb & 1;
    int p = 0;
    for (; p + 16 <= pairs; p += 16) {
        const uint8_t* s = row + 4 * p;
        __m128i v[4];
        for (int i = 0; i < 4; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * i));
        // Bytes Cb0 Cr0 Cb1 Cr1 ... for 8 pairs in each register.
        const __m128i c0 = _mm_packus_epi16(SelectBytes(v[0], chromaHigh), SelectBytes(v[1], chromaHigh));
        const __m128i c1 = _mm_packus_epi16(SelectBytes(v[2], chromaHigh), SelectBytes(v[3], chromaHigh));
        const __m128i cbv = _mm_packus_epi16(SelectBytes(c0, 0), SelectBytes(c1, 0));
        const __m128i crv = _mm_packus_epi16(SelectBytes(c0, 1), SelectBytes(c1, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + p), cbv);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + p), crv);
    }
    return p;
}

namespace {

// One half (8 pixels) of the colour transform in 16-bit lanes. Products are unsigned (at most
// 129 x 255 = 32895), shifted logically, then combined as signed values well inside int16.
inline void Transform8(__m128i y, __m128i u, __m128i v, __m128i* b, __m128i* g, __m128i* r) {
    const __m128i yy =
        _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(y, _mm_set1_epi16(74)), 6), _mm_set1_epi16(18));
    const __m128i rt =
        _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(102)), 6), _mm_set1_epi16(204));
    const __m128i g1 =
        _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(u, _mm_set1_epi16(25)), 6), _mm_set1_epi16(50));
    const __m128i g2 =
        _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(52)), 6), _mm_set1_epi16(104));
    const __m128i bt =
        _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(u, _mm_set1_epi16(129)), 6), _mm_set1_epi16(258));
    *b = _mm_add_epi16(yy, bt);
    *g = _mm_sub_epi16(yy, _mm_add_epi16(g1, g2));
    *r = _mm_add_epi16(yy, rt);
}

}  // namespace

int I420ToBgrRow(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width) {
    const __m128i zero = _mm_setzero_si128();
    alignas(16) uint8_t bs[16], gs[16], rs[16];
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2));
        const __m128i u = _mm_unpacklo_epi8(u8, u8);  // each chroma sample serves two pixels
        const __m128i v = _mm_unpacklo_epi8(v8, v8);
        __m128i bl, gl, rl, bh, gh, rh;
        Transform8(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(v, zero), &bl,
                   &gl, &rl);
        Transform8(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(v, zero), &bh,
                   &gh, &rh);
        // packus clips each signed 16-bit value to 0..255.
        _mm_store_si128(reinterpret_cast<__m128i*>(bs), _mm_packus_epi16(bl, bh));
        _mm_store_si128(reinterpret_cast<__m128i*>(gs), _mm_packus_epi16(gl, gh));
        _mm_store_si128(reinterpret_cast<__m128i*>(rs), _mm_packus_epi16(rl, rh));
        uint8_t* out = bgr + 3 * x;
        for (int i = 0; i < 16; ++i) {
            out[3 * i] = bs[i];
            out[3 * i + 1] = gs[i];
            out[3 * i + 2] = rs[i];
        }
    }
    return x;
}

}  // namespace clrconv::sse2
