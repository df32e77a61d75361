// 8x8 integer inverse DCT on vectors, shared by the SSE2 and AVX2 builds (each includes it into
// its own translation unit, compiled with its own instruction-set flags). The 16-bit data and the
// two transposes use 128-bit registers; the 32-bit arithmetic of a stage goes through an `Ops`
// type (SseOps below: two 128-bit registers per eight lanes; the AVX2 file: one 256-bit one).
//
// Why the result equals IdctBlockC bit for bit:
// - Every first-level product of the reference has the form a X + b Y of two 16-bit inputs
//   (565 (X1 + X7) + 2276 X1 = 2841 X1 + 565 X7, and so on), which madd computes exactly in 32
//   bits (the constants are far from -32768, so the pair sum cannot wrap).
// - The butterflies are 32-bit adds that cannot overflow for 16-bit inputs. The reference takes
//   (181 v + 128) >> 8 in 64 bits; here v = 256 h + l (h = v >> 8, l = v & 255) and the result is
//   181 h + ((181 l + 128) >> 8), which is the same value with no term leaving 32 bits.
// - Shifts are arithmetic. A stage output (x >> n) truncated to 16 bits is bits n..n+15 of x,
//   taken as (x << (16 - n)) >> 16, like the reference's stores to int16_t.
// - The reference's all-AC-zero shortcuts give the same values as the full butterfly
//   ((2048 X0 + 128) >> 8 = 8 X0, (256 Y0 + 8192) >> 14 = (Y0 + 32) >> 6), so they are omitted.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "SimdTranspose.h"

namespace r263com::idct_simd {

// Internal linkage: the SSE2 and AVX2 files compile these functions with different instruction
// sets, and neither copy may stand in for the other at link time.
namespace {

using simd::Transpose8x8;

inline __m128i PairConstant(int16_t c0, int16_t c1) {
    return _mm_set_epi16(c1, c0, c1, c0, c1, c0, c1, c0);
}

// Eight 32-bit lanes in two SSE2 registers (lanes 0..3, 4..7).
struct SseOps {
    struct Wide {
        __m128i lo, hi;
    };

    // c0 a + c1 b per 16-bit lane of a and b, in 32 bits.
    static Wide MulPair(__m128i a, __m128i b, int16_t c0, int16_t c1) {
        const __m128i k = PairConstant(c0, c1);
        return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k)};
    }
    static Wide Add(Wide a, Wide b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
    static Wide Sub(Wide a, Wide b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
    static Wide AddConst(Wide a, int32_t c) {
        const __m128i k = _mm_set1_epi32(c);
        return {_mm_add_epi32(a.lo, k), _mm_add_epi32(a.hi, k)};
    }
    template <int N>
    static Wide Sra(Wide a) {
        return {_mm_srai_epi32(a.lo, N), _mm_srai_epi32(a.hi, N)};
    }
    static __m128i Rotate45(__m128i v) {
        const __m128i high = Times181(_mm_srai_epi32(v, 8));
        const __m128i low = Times181(_mm_and_si128(v, _mm_set1_epi32(255)));
        return _mm_add_epi32(high, _mm_srai_epi32(_mm_add_epi32(low, _mm_set1_epi32(128)), 8));
    }
    static Wide Rotate45(Wide a) { return {Rotate45(a.lo), Rotate45(a.hi)}; }
    // (x >> N) truncated to 16 bits, eight lanes packed into one register.
    template <int N>
    static __m128i NarrowShift(Wide a) {
        const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(a.lo, 16 - N), 16);
        const __m128i hi = _mm_srai_epi32(_mm_slli_epi32(a.hi, 16 - N), 16);
        return _mm_packs_epi32(lo, hi);
    }

    // 181 v for |v| < 2^23, as v<<7 + v<<5 + v<<4 + v<<2 + v.
    static __m128i Times181(__m128i v) {
        const __m128i a = _mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5));
        const __m128i b = _mm_add_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 2));
        return _mm_add_epi32(_mm_add_epi32(a, b), v);
    }
};

// One stage over eight lines at once: v[k] holds input k of every line (one line per lane);
// on return v[k] holds output k. The row stage (kColumn false) keeps full-precision products,
// adds 128 to the DC term and shifts by 8; the column stage rounds each product as (p + 4) >> 3,
// adds 8192 and shifts by 14.
template <typename Ops, bool kColumn>
inline void Stage(__m128i v[8]) {
    using Wide = typename Ops::Wide;
    const auto product = [](Wide p) { return kColumn ? Ops::template Sra<3>(Ops::AddConst(p, 4)) : p; };
    const int16_t dcScale = kColumn ? 256 : 2048;
    const int32_t dcRound = kColumn ? 8192 : 128;

    const Wide x8 = Ops::AddConst(Ops::MulPair(v[0], v[4], dcScale, dcScale), dcRound);   // x0 + x1
    const Wide x0 = Ops::AddConst(Ops::MulPair(v[0], v[4], dcScale, -dcScale), dcRound);  // x0 - x1
    const Wide x4 = product(Ops::MulPair(v[1], v[7], 2841, 565));
    const Wide x5 = product(Ops::MulPair(v[1], v[7], 565, -2841));
    const Wide x6 = product(Ops::MulPair(v[5], v[3], 1609, 2408));
    const Wide x7 = product(Ops::MulPair(v[5], v[3], 2408, -1609));
    const Wide x2 = product(Ops::MulPair(v[2], v[6], 1108, -2676));
    const Wide x3 = product(Ops::MulPair(v[2], v[6], 2676, 1108));

    const Wide s1 = Ops::Add(x4, x6), s4 = Ops::Sub(x4, x6), s6 = Ops::Add(x5, x7), s5 = Ops::Sub(x5, x7);
    const Wide t7 = Ops::Add(x8, x3), t8 = Ops::Sub(x8, x3), t3 = Ops::Add(x0, x2), t0 = Ops::Sub(x0, x2);
    const Wide r2 = Ops::Rotate45(Ops::Add(s4, s5)), r4 = Ops::Rotate45(Ops::Sub(s4, s5));

    constexpr int kShift = kColumn ? 14 : 8;
    v[0] = Ops::template NarrowShift<kShift>(Ops::Add(t7, s1));
    v[1] = Ops::template NarrowShift<kShift>(Ops::Add(t3, r2));
    v[2] = Ops::template NarrowShift<kShift>(Ops::Add(t0, r4));
    v[3] = Ops::template NarrowShift<kShift>(Ops::Add(t8, s6));
    v[4] = Ops::template NarrowShift<kShift>(Ops::Sub(t8, s6));
    v[5] = Ops::template NarrowShift<kShift>(Ops::Sub(t0, r4));
    v[6] = Ops::template NarrowShift<kShift>(Ops::Sub(t3, r2));
    v[7] = Ops::template NarrowShift<kShift>(Ops::Sub(t7, s1));
}

template <typename Ops>
inline void Idct8x8(int16_t block[64]) {
    __m128i v[8];
    for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    Transpose8x8(v);       // v[k] = coefficient k of every row
    Stage<Ops, false>(v);  // v[k] = row-stage output k of every row
    Transpose8x8(v);       // v[r] = row r, i.e. input r of every column
    Stage<Ops, true>(v);   // v[r] = output row r
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), v[i]);
}

}  // namespace
}  // namespace r263com::idct_simd
