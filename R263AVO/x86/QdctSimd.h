// Forward transforms on 16-bit vectors with madd products: the SSE2 kernels, plus the loading,
// range check and zero store that the AVX2 file (32-bit lanes, QdctAvx2.cpp) shares. The 16-bit
// data and the transposes use 128-bit registers, eight lines (rows or columns) in the eight lanes;
// the 32-bit products and roundings of a pass go through an `Ops` type (SseOps: two 128-bit
// registers per eight lanes). Each x86 file includes this header into its own translation unit,
// compiled with its own instruction-set flags.
//
// Why the result equals the plain version bit for bit, for inputs in -255..255 (the callers pass
// pixels 0..255 or prediction differences -255..255; other blocks go to the plain version):
// - Every product of a pass has the form c u + c' v of two 16-bit values with constants c, c'
//   >= 0, which madd computes exactly in 32 bits. Constants of 32768 or more (only the inter
//   column constants of QP 1 at p 35 and 45) are taken as c - 65536 and the missing 65536 u added
//   back from the interleaved pair (u << 16): the sum is exact modulo 2^32 and the true value fits.
// - Worst cases over the input range, computed with the rounding errors as intervals: inter
//   column pass at QP 1, p 1 (the largest row outputs, 8160): sums of two inputs 16321, of four
//   32642 (b0..b3 and the arguments of M), M outputs 23082, 46341 x below 1.52e9, every other sum
//   below 2.7e8; intra and exact DCT: nothing above 2887 in 16 bits or 1.4e8 in 32. So every
//   value kept in 16 bits fits, and no 32-bit sum wraps.
// - The odd part needs d = a4 +- m and e = a7 +- m, which can reach 39400 in the inter column
//   pass. They are never formed: c1 e1 + c7 d1 = (c1 a7 + c7 a4) + (c1 m2 + c7 m1), and likewise
//   for the other three odd outputs, which is the same integer.
// - Rn is (x + 2^(n-1) + (x >> 31)) >> n (halves away from zero), Tn is
//   (x + (x < 0 ? 2^n - 1 : 0)) >> n (toward zero), both on 32-bit lanes.
// - The early exits only decide whether the whole output is zero. All rows and columns are
//   computed; a block is zero when no row up to the row limit has an output of magnitude 16 or
//   more, or no column up to the column limit has a nonzero output, which is exactly when the
//   plain version's passes stop or end without a mark. The inter kernels also store zeros,
//   without the passes, when the zero bounds of the tables (InitInterQdctZeroBounds) prove every
//   level zero: from the block's sums of magnitudes and of squares before the row pass, and from the columns'
//   sums of row-pass output magnitudes before the column pass. The plain version computes zeros
//   there, so the output is the same.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "R263COM/x86/SimdTranspose.h"

namespace r263avo::qdct_simd {

// Internal linkage: the SSE2 and AVX2 files compile these functions with different instruction
// sets, and neither copy may stand in for the other at link time.
namespace {

using r263com::simd::Transpose8x8;

// Eight 32-bit lanes in two SSE2 registers (lanes 0..3, 4..7).
struct SseOps {
    struct Wide {
        __m128i lo, hi;
    };
    using Const = __m128i;

    static Const Broadcast(__m128i k) { return k; }
    // The pairs (a_i, b_i) of 16-bit lanes, one pair per 32-bit lane.
    static Wide Interleave(__m128i a, __m128i b) {
        return {_mm_unpacklo_epi16(a, b), _mm_unpackhi_epi16(a, b)};
    }
    static Wide Madd(Wide pairs, Const k) {
        return {_mm_madd_epi16(pairs.lo, k), _mm_madd_epi16(pairs.hi, k)};
    }
    static Wide Add(Wide a, Wide b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
    static Wide Sub(Wide a, Wide b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
    static Wide And(Wide a, Const m) { return {_mm_and_si128(a.lo, m), _mm_and_si128(a.hi, m)}; }
    static Wide Set1(int32_t c) { return {_mm_set1_epi32(c), _mm_set1_epi32(c)}; }
    template <int N>
    static Wide Sll(Wide a) {
        return {_mm_slli_epi32(a.lo, N), _mm_slli_epi32(a.hi, N)};
    }
    template <int N>
    static Wide Sra(Wide a) {
        return {_mm_srai_epi32(a.lo, N), _mm_srai_epi32(a.hi, N)};
    }
    template <int N>
    static Wide Srl(Wide a) {
        return {_mm_srli_epi32(a.lo, N), _mm_srli_epi32(a.hi, N)};
    }
    // Eight 32-bit lanes to 16 bits (the values fit, so saturation never acts).
    static __m128i Narrow(Wide a) { return _mm_packs_epi32(a.lo, a.hi); }
};

// A constant pair (c0, c1), 0 <= c < 65536, for c0 u + c1 v: the 16-bit pattern madd uses and,
// for the wide form, masks that select the 65536 u and 65536 v corrections.
template <typename Ops>
struct PairConst {
    typename Ops::Const k, fixLo, fixHi;

    PairConst(int32_t c0, int32_t c1)
        : k(Ops::Broadcast(_mm_set_epi16(static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                         static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                         static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                         static_cast<int16_t>(c1), static_cast<int16_t>(c0)))),
          fixLo(Ops::Broadcast(_mm_set1_epi32(c0 >= 32768 ? -1 : 0))),
          fixHi(Ops::Broadcast(_mm_set1_epi32(c1 >= 32768 ? static_cast<int32_t>(0xffff0000u) : 0))) {}
};

// c0 u + c1 v in 32 bits per lane. kWide: some constant may be 32768 or more.
template <typename Ops, bool kWide>
inline typename Ops::Wide MulPair(__m128i u, __m128i v, const PairConst<Ops>& c) {
    const typename Ops::Wide pairs = Ops::Interleave(u, v);
    const typename Ops::Wide product = Ops::Madd(pairs, c.k);
    if constexpr (!kWide) {
        return product;
    } else {
        // pairs << 16 is 65536 u; pairs with the low half cleared is 65536 v.
        const typename Ops::Wide fix =
            Ops::Add(Ops::And(Ops::template Sll<16>(pairs), c.fixLo), Ops::And(pairs, c.fixHi));
        return Ops::Add(product, fix);
    }
}

// Output rounding of a pass on 32-bit lanes.
enum class Rounding { kNearest, kTruncate };

template <typename Ops, Rounding kMode, int N>
inline __m128i RoundNarrow(typename Ops::Wide x) {
    const typename Ops::Wide sign = Ops::template Sra<31>(x);
    if constexpr (kMode == Rounding::kNearest) {
        return Ops::Narrow(Ops::template Sra<N>(Ops::Add(Ops::Add(x, Ops::Set1(1 << (N - 1))), sign)));
    } else {
        return Ops::Narrow(Ops::template Sra<N>(Ops::Add(x, Ops::template Srl<32 - N>(sign))));
    }
}

// The constants c1..c7 of one pass as the pairs the butterfly multiplies by.
template <typename Ops>
struct PassConstants {
    PairConst<Ops> c44, c26, c62, c17, c71, c35;

    explicit PassConstants(const int32_t c[8])
        : c44(c[3], c[3]),
          c26(c[1], c[5]),
          c62(c[5], c[1]),
          c17(c[0], c[6]),
          c71(c[6], c[0]),
          c35(c[2], c[4]) {}
};

// M(x) = R16(46341 x) on 16-bit lanes, as 32767 x + 13574 x.
template <typename Ops>
inline __m128i MulInvSqrt2(__m128i x) {
    const typename Ops::Const k =
        Ops::Broadcast(_mm_set_epi16(13574, 32767, 13574, 32767, 13574, 32767, 13574, 32767));
    return RoundNarrow<Ops, Rounding::kNearest, 16>(Ops::Madd(Ops::Interleave(x, x), k));
}

// One pass over eight lines at once: v[i] holds input i of every line (one line per lane); on
// return v[k] holds output k.
template <typename Ops, bool kWide, Rounding kMode, int N>
inline void Pass(__m128i v[8], const PassConstants<Ops>& c) {
    using Wide = typename Ops::Wide;
    const __m128i zero = _mm_setzero_si128();
    const __m128i a0 = _mm_add_epi16(v[0], v[7]), a7 = _mm_sub_epi16(v[0], v[7]);
    const __m128i a1 = _mm_add_epi16(v[1], v[6]), a6 = _mm_sub_epi16(v[1], v[6]);
    const __m128i a2 = _mm_add_epi16(v[2], v[5]), a5 = _mm_sub_epi16(v[2], v[5]);
    const __m128i a3 = _mm_add_epi16(v[3], v[4]), a4 = _mm_sub_epi16(v[3], v[4]);
    // Even part.
    const __m128i b0 = _mm_add_epi16(a0, a3), b3 = _mm_sub_epi16(a0, a3);
    const __m128i b1 = _mm_add_epi16(a1, a2), b2 = _mm_sub_epi16(a1, a2);
    const Wide x0 = MulPair<Ops, kWide>(b0, b1, c.c44);
    const Wide x4 = MulPair<Ops, kWide>(b0, _mm_sub_epi16(zero, b1), c.c44);
    const Wide x2 = MulPair<Ops, kWide>(b3, b2, c.c26);
    const Wide x6 = MulPair<Ops, kWide>(b3, _mm_sub_epi16(zero, b2), c.c62);
    // Odd part, with d1 = a4 + m1, d2 = a4 - m1, e1 = a7 + m2, e2 = a7 - m2 spread over two
    // products each (see the header comment).
    const __m128i m1 = MulInvSqrt2<Ops>(_mm_sub_epi16(a6, a5));
    const __m128i m2 = MulInvSqrt2<Ops>(_mm_add_epi16(a6, a5));
    const __m128i na4 = _mm_sub_epi16(zero, a4), nm1 = _mm_sub_epi16(zero, m1);
    // X1 = c1 e1 + c7 d1, X7 = c7 e1 - c1 d1, X5 = c3 d2 + c5 e2, X3 = c3 e2 - c5 d2.
    const Wide x1 = Ops::Add(MulPair<Ops, kWide>(a7, a4, c.c17), MulPair<Ops, kWide>(m2, m1, c.c17));
    const Wide x7 = Ops::Add(MulPair<Ops, kWide>(a7, na4, c.c71), MulPair<Ops, kWide>(m2, nm1, c.c71));
    const Wide x5 = Ops::Sub(MulPair<Ops, kWide>(a4, a7, c.c35), MulPair<Ops, kWide>(m1, m2, c.c35));
    const Wide x3 = Ops::Sub(MulPair<Ops, kWide>(a7, na4, c.c35), MulPair<Ops, kWide>(m2, nm1, c.c35));
    v[0] = RoundNarrow<Ops, kMode, N>(x0);
    v[1] = RoundNarrow<Ops, kMode, N>(x1);
    v[2] = RoundNarrow<Ops, kMode, N>(x2);
    v[3] = RoundNarrow<Ops, kMode, N>(x3);
    v[4] = RoundNarrow<Ops, kMode, N>(x4);
    v[5] = RoundNarrow<Ops, kMode, N>(x5);
    v[6] = RoundNarrow<Ops, kMode, N>(x6);
    v[7] = RoundNarrow<Ops, kMode, N>(x7);
}

// Loads the block with v[i] = column i (input i of every row). False when a sample lies outside
// -255..255, the range the vector arithmetic is exact for.
inline bool LoadColumns(const int16_t block[64], __m128i v[8]) {
    for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    __m128i lo = v[0], hi = v[0];
    for (int i = 1; i < 8; ++i) {
        lo = _mm_min_epi16(lo, v[i]);
        hi = _mm_max_epi16(hi, v[i]);
    }
    const __m128i out =
        _mm_or_si128(_mm_cmplt_epi16(lo, _mm_set1_epi16(-255)), _mm_cmpgt_epi16(hi, _mm_set1_epi16(255)));
    if (_mm_movemask_epi8(out) != 0) return false;
    Transpose8x8(v);
    return true;
}

inline void StoreRows(int16_t block[64], const __m128i v[8]) {
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), v[i]);
}

// Lanes 0..limit (all eight when limit is outside 0..7) as a pmovmskb mask of 16-bit lanes.
inline int LeadingLanes(int limit) {
    const int lanes = (limit >= 0 && limit < 8) ? limit + 1 : 8;
    return (1 << (2 * lanes)) - 1;
}

// Intra and exact transforms: row pass with R14, column pass with T14.
template <typename Ops>
inline void Transform(__m128i v[8], const int32_t constants[8]) {
    const PassConstants<Ops> c(constants);
    Pass<Ops, false, Rounding::kNearest, 14>(v, c);
    Transpose8x8(v);
    Pass<Ops, false, Rounding::kTruncate, 14>(v, c);
}

// Sum of the 64 samples of v (each within -255..255, so 16-bit partial sums do not wrap).
inline int SumSamples(const __m128i v[8]) {
    __m128i s = v[0];
    for (int i = 1; i < 8; ++i) s = _mm_add_epi16(s, v[i]);
    s = _mm_madd_epi16(s, _mm_set1_epi16(1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s);
}

// Sum of the magnitudes of the 64 samples of v (each within -255..255, so the 16-bit lane sums,
// at most 8 x 255, do not wrap).
inline int SumAbsSamples(const __m128i v[8]) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s = zero;
    for (int i = 0; i < 8; ++i) s = _mm_add_epi16(s, _mm_max_epi16(v[i], _mm_sub_epi16(zero, v[i])));
    s = _mm_madd_epi16(s, _mm_set1_epi16(1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s);
}

// Sum of the squares of the 64 samples of v (each within -255..255: madd pairs are at most
// 130050 and the total at most 4161600, within 32 bits).
inline int SumSquares(const __m128i v[8]) {
    __m128i s = _mm_madd_epi16(v[0], v[0]);
    for (int i = 1; i < 8; ++i) s = _mm_add_epi32(s, _mm_madd_epi16(v[i], v[i]));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s);
}

// True when the block's sum of squares or of magnitudes proves every inter level zero
// (InterQdctTables::zeroSquares and zeroSum).
inline bool ProvenZero(const __m128i v[8], int zeroSquares, int zeroSum) {
    return SumSquares(v) <= zeroSquares || SumAbsSamples(v) <= zeroSum;
}

// Returns false (block untouched) when the block is outside the exact range.
template <typename Ops>
inline bool ForwardDct(int16_t block[64], const int32_t constants[8]) {
    __m128i v[8];
    if (!LoadColumns(block, v)) return false;
    Transform<Ops>(v, constants);
    StoreRows(block, v);
    return true;
}

template <typename Ops>
inline bool QdctIntra(int16_t block[64], const int32_t constants[8]) {
    __m128i v[8];
    if (!LoadColumns(block, v)) return false;
    const int dc = SumSamples(v) / 8;
    Transform<Ops>(v, constants);
    int intraDc = (dc + 4) >> 3;
    intraDc = intraDc < 1 ? 1 : (intraDc > 254 ? 254 : intraDc);
    v[0] = _mm_insert_epi16(v[0], intraDc, 0);
    StoreRows(block, v);
    return true;
}

inline void StoreZeros(int16_t block[64]) {
    for (int i = 0; i < 8; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), _mm_setzero_si128());
}

// y has a constant of 32768 or more.
inline bool HasWideConstant(const int32_t y[8]) {
    for (int k = 0; k < 7; ++k) {
        if (y[k] >= 32768) return true;
    }
    return false;
}

// What QdctInter did: nothing (a sample outside the exact range), 64 zeros, or levels of which
// one is nonzero.
enum class QdctOutcome { kOutOfRange, kZero, kLevels };

template <typename Ops>
inline QdctOutcome QdctInter(int16_t block[64], const int32_t x[8], const int32_t y[8], int zeroSum,
                             int zeroSquares, int zeroColumnSum, int rowLimit, int colLimit) {
    __m128i v[8];
    if (!LoadColumns(block, v)) return QdctOutcome::kOutOfRange;
    // Differences this small give zero levels whatever their pattern.
    if (ProvenZero(v, zeroSquares, zeroSum)) {
        StoreZeros(block);
        return QdctOutcome::kZero;
    }
    Pass<Ops, false, Rounding::kNearest, 10>(v, PassConstants<Ops>(x));
    // v[k] = output k of every row. A row is significant when an output has magnitude 16 or more.
    __m128i big = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        big = _mm_or_si128(big, _mm_or_si128(_mm_cmpgt_epi16(v[k], _mm_set1_epi16(15)),
                                             _mm_cmplt_epi16(v[k], _mm_set1_epi16(-15))));
    }
    if ((_mm_movemask_epi8(big) & LeadingLanes(rowLimit)) == 0) {
        StoreZeros(block);
        return QdctOutcome::kZero;
    }
    Transpose8x8(v);
    // v[i] = input i of every column. Columns whose inputs are small enough in sum give zero
    // levels (InterQdctTables::zeroColumnSum); when columns 0..colLimit all do, the plain version
    // ends with a zero block too. The magnitudes (at most 8160) are summed with unsigned
    // saturation, which keeps every sum above the bound above it.
    if (zeroColumnSum >= 0) {
        const __m128i zero = _mm_setzero_si128();
        __m128i sum = zero;
        for (int i = 0; i < 8; ++i) sum = _mm_adds_epu16(sum, _mm_max_epi16(v[i], _mm_sub_epi16(zero, v[i])));
        const __m128i bound = _mm_set1_epi16(static_cast<int16_t>(std::min(zeroColumnSum, 65535)));
        const __m128i small = _mm_cmpeq_epi16(_mm_subs_epu16(sum, bound), zero);
        if ((~_mm_movemask_epi8(small) & LeadingLanes(colLimit)) == 0) {
            StoreZeros(block);
            return QdctOutcome::kZero;
        }
    }
    const PassConstants<Ops> cy(y);
    if (HasWideConstant(y)) {
        Pass<Ops, true, Rounding::kTruncate, 18>(v, cy);
    } else {
        Pass<Ops, false, Rounding::kTruncate, 18>(v, cy);
    }
    // v[k] = output row k; lane c is column c. A column counts when any of its outputs is nonzero.
    __m128i zeroLanes = _mm_set1_epi16(-1);
    for (int k = 0; k < 8; ++k)
        zeroLanes = _mm_and_si128(zeroLanes, _mm_cmpeq_epi16(v[k], _mm_setzero_si128()));
    if ((~_mm_movemask_epi8(zeroLanes) & LeadingLanes(colLimit)) == 0) {
        StoreZeros(block);
        return QdctOutcome::kZero;
    }
    StoreRows(block, v);
    return QdctOutcome::kLevels;
}

}  // namespace
}  // namespace r263avo::qdct_simd
