// SSE2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// The reference block lives in a half-pel image, so a pixel row of 16 samples is spread over the
// even bytes 0..30 of an interpolated row. Two 16-byte loads (at 0 and at 15) cover exactly those
// bytes: the even bytes of the first load and the odd bytes of the second are the 16 samples.
// Nothing outside the samples the C version reads is touched except the bytes between them.
// PSADBW sums exactly the same absolute differences as the C loop. The limit is tested once per
// group of rows; since partial sums never decrease, the rows of a group that passes it are then
// added one by one, so the exit row and its partial sum are those of the C loop.
#include <emmintrin.h>

#include <cstdint>

#include "HalfRing.h"
#include "SadPlane.h"

namespace r263avo {

using sad_simd::GroupPassesLimit;
using sad_simd::kMaxFullSad;
using sad_simd::Load;
using sad_simd::Total;

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

namespace {

// One row per register for the ring (HalfRing.h).
struct SseRows {
    using Reg = __m128i;
    static constexpr int kRows = 1;
    static Reg Load(const uint8_t* p, long) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static Reg Zero() { return _mm_setzero_si128(); }
    static Reg Ones() { return _mm_set1_epi8(1); }
    static Reg Avg(Reg a, Reg b) { return _mm_avg_epu8(a, b); }
    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    static Reg Sub8(Reg a, Reg b) { return _mm_sub_epi8(a, b); }
    static Reg AddSad(Reg acc, Reg a, Reg b) { return _mm_add_epi64(acc, _mm_sad_epu8(a, b)); }
    static void Totals(const Reg acc[8], int costs[8]) {
        for (int i = 0; i < 8; ++i) costs[i] = Total(acc[i]);
    }
};

}  // namespace

void Sad16HalfRingSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]) {
    half_ring::Ring<SseRows>(cur, curStride, ref, refStride, costs);
}

// Plain-plane kernels: SadPlane.h.
int Sad16PlaneFullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<false>(cur, curStride, ref, refStride, limit);
}

int Sad16PlaneSubSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<true>(cur, curStride, ref, refStride, limit);
}

// Macroblock activity: PSADBW against zero gives the sum, against the broadcast mean the
// absolute deviations, both exactly as the plain loops add them.
int MacroblockActivitySse2(const uint8_t* cur, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i rows[16];
    __m128i acc = zero;
    for (int j = 0; j < 16; ++j) {
        rows[j] = Load(cur + j * stride);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(rows[j], zero));
    }
    const __m128i mean = _mm_set1_epi8(static_cast<char>(Total(acc) / 256));
    __m128i dev = zero;
    for (int j = 0; j < 16; ++j) dev = _mm_add_epi64(dev, _mm_sad_epu8(rows[j], mean));
    return Total(dev);
}

int Sad16FullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    auto row = [&](int j) {
        return _mm_sad_epu8(Load(cur + j * curStride), LoadHalfPelRow(ref + 2 * j * refStride));
    };
    if (limit >= kMaxFullSad) {
        __m128i acc = _mm_setzero_si128();
        for (int j = 0; j < 16; ++j) acc = _mm_add_epi64(acc, row(j));
        return Total(acc);
    }
    int sum = 0, out = 0;
    for (int j = 0; j < 16; j += 4) {
        const __m128i s[4] = {row(j), row(j + 1), row(j + 2), row(j + 3)};
        if (GroupPassesLimit(s, &sum, limit, &out)) return out;
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
