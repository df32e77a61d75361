// Forward transforms on 16-bit vectors with madd products: the SSE2 kernels, the AVX2 kernel for
// two blocks at once, and the loading, range check and zero store that the AVX2 file's one-block
// kernels (32-bit lanes, QdctAvx2.cpp) share. A block is eight lines (rows or columns) in the eight
// 16-bit lanes of a 128-bit register or of one 128-bit half of a 256-bit one. The arithmetic goes
// through an `Ops` type: SseOps (one block) or, in a file compiled for AVX2, PairOps (block a in
// the low halves, block b in the high ones). Every operation used works within 128-bit halves,
// so each half computes exactly what SseOps computes for its block. Each x86 file includes this
// header into its own translation unit, compiled with its own instruction-set flags.
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
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdint>

#include "R263COM/x86/SimdTranspose.h"

namespace r263avo::qdct_simd {

// Internal linkage: the SSE2 and AVX2 files compile these functions with different instruction
// sets, and neither copy may stand in for the other at link time.
namespace {

using r263com::simd::Transpose8x8;

// One block in 128-bit registers.
struct SseOps {
    using V = __m128i;
    static V Repeat(__m128i k) { return k; }  // the pattern k in every 128-bit half
    static V Set16(int16_t x) { return _mm_set1_epi16(x); }
    static V Set32(int32_t x) { return _mm_set1_epi32(x); }
    static V Zero() { return _mm_setzero_si128(); }
    static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V Min16(V a, V b) { return _mm_min_epi16(a, b); }
    static V Max16(V a, V b) { return _mm_max_epi16(a, b); }
    static V AddsU16(V a, V b) { return _mm_adds_epu16(a, b); }
    static V SubsU16(V a, V b) { return _mm_subs_epu16(a, b); }
    static V CmpGt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V CmpEq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    static V Packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    template <int N>
    static V Sll32(V a) { return _mm_slli_epi32(a, N); }
    template <int N>
    static V Sra32(V a) { return _mm_srai_epi32(a, N); }
    template <int N>
    static V Srl32(V a) { return _mm_srli_epi32(a, N); }
    template <int K>
    static V Shuffle32(V a) { return _mm_shuffle_epi32(a, K); }
    static uint32_t MoveMask8(V a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
};

#if defined(__AVX2__)
// Two blocks in 256-bit registers: block a in the low 128-bit halves, block b in the high ones.
struct PairOps {
    using V = __m256i;
    static V Repeat(__m128i k) { return _mm256_broadcastsi128_si256(k); }
    static V Set16(int16_t x) { return _mm256_set1_epi16(x); }
    static V Set32(int32_t x) { return _mm256_set1_epi32(x); }
    static V Zero() { return _mm256_setzero_si256(); }
    static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Min16(V a, V b) { return _mm256_min_epi16(a, b); }
    static V Max16(V a, V b) { return _mm256_max_epi16(a, b); }
    static V AddsU16(V a, V b) { return _mm256_adds_epu16(a, b); }
    static V SubsU16(V a, V b) { return _mm256_subs_epu16(a, b); }
    static V CmpGt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    static V CmpEq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    static V Packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    template <int N>
    static V Sll32(V a) { return _mm256_slli_epi32(a, N); }
    template <int N>
    static V Sra32(V a) { return _mm256_srai_epi32(a, N); }
    template <int N>
    static V Srl32(V a) { return _mm256_srli_epi32(a, N); }
    template <int K>
    static V Shuffle32(V a) { return _mm256_shuffle_epi32(a, K); }
    static uint32_t MoveMask8(V a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
};
#endif

// Eight 32-bit lanes of each block: lanes 0..3 in lo, 4..7 in hi.
template <typename Ops>
struct Wide {
    typename Ops::V lo, hi;
};

template <typename Ops>
inline Wide<Ops> AddWide(Wide<Ops> a, Wide<Ops> b) {
    return {Ops::Add32(a.lo, b.lo), Ops::Add32(a.hi, b.hi)};
}

template <typename Ops>
inline Wide<Ops> SubWide(Wide<Ops> a, Wide<Ops> b) {
    return {Ops::Sub32(a.lo, b.lo), Ops::Sub32(a.hi, b.hi)};
}

// The pairs (a_i, b_i) of 16-bit lanes, one pair per 32-bit lane.
template <typename Ops>
inline Wide<Ops> Interleave(typename Ops::V a, typename Ops::V b) {
    return {r263com::simd::UnpackLo16(a, b), r263com::simd::UnpackHi16(a, b)};
}

// A constant pair (c0, c1), 0 <= c < 65536, for c0 u + c1 v: the 16-bit pattern madd uses and,
// for the wide form, masks that select the 65536 u and 65536 v corrections.
template <typename Ops>
struct PairConst {
    typename Ops::V k, fixLo, fixHi;

    PairConst(int32_t c0, int32_t c1)
        : k(Ops::Repeat(_mm_set_epi16(static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                      static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                      static_cast<int16_t>(c1), static_cast<int16_t>(c0),
                                      static_cast<int16_t>(c1), static_cast<int16_t>(c0)))),
          fixLo(Ops::Set32(c0 >= 32768 ? -1 : 0)),
          fixHi(Ops::Set32(c1 >= 32768 ? static_cast<int32_t>(0xffff0000u) : 0)) {}
};

// c0 u + c1 v in 32 bits per lane. kWide: some constant may be 32768 or more.
template <typename Ops, bool kWide>
inline Wide<Ops> MulPair(typename Ops::V u, typename Ops::V v, const PairConst<Ops>& c) {
    const Wide<Ops> pairs = Interleave<Ops>(u, v);
    const Wide<Ops> product{Ops::Madd(pairs.lo, c.k), Ops::Madd(pairs.hi, c.k)};
    if constexpr (!kWide) {
        return product;
    } else {
        // pairs << 16 is 65536 u; pairs with the low half cleared is 65536 v.
        const Wide<Ops> fix{
            Ops::Add32(Ops::And(Ops::template Sll32<16>(pairs.lo), c.fixLo), Ops::And(pairs.lo, c.fixHi)),
            Ops::Add32(Ops::And(Ops::template Sll32<16>(pairs.hi), c.fixLo), Ops::And(pairs.hi, c.fixHi))};
        return AddWide<Ops>(product, fix);
    }
}

// Output rounding of a pass on 32-bit lanes.
enum class Rounding { kNearest, kTruncate };

template <typename Ops, Rounding kMode, int N>
inline typename Ops::V RoundHalf(typename Ops::V x) {
    const typename Ops::V sign = Ops::template Sra32<31>(x);
    if constexpr (kMode == Rounding::kNearest) {
        return Ops::template Sra32<N>(Ops::Add32(Ops::Add32(x, Ops::Set32(1 << (N - 1))), sign));
    } else {
        return Ops::template Sra32<N>(Ops::Add32(x, Ops::template Srl32<32 - N>(sign)));
    }
}

// The rounded lanes narrowed to 16 bits (the values fit, so saturation never acts).
template <typename Ops, Rounding kMode, int N>
inline typename Ops::V RoundNarrow(Wide<Ops> x) {
    return Ops::Packs32(RoundHalf<Ops, kMode, N>(x.lo), RoundHalf<Ops, kMode, N>(x.hi));
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
inline typename Ops::V MulInvSqrt2(typename Ops::V x) {
    const typename Ops::V k =
        Ops::Repeat(_mm_set_epi16(13574, 32767, 13574, 32767, 13574, 32767, 13574, 32767));
    const Wide<Ops> pairs = Interleave<Ops>(x, x);
    return RoundNarrow<Ops, Rounding::kNearest, 16>(Wide<Ops>{Ops::Madd(pairs.lo, k), Ops::Madd(pairs.hi, k)});
}

// One pass over eight lines at once: v[i] holds input i of every line (one line per lane); on
// return v[k] holds output k.
template <typename Ops, bool kWide, Rounding kMode, int N>
inline void Pass(typename Ops::V v[8], const PassConstants<Ops>& c) {
    using V = typename Ops::V;
    const V zero = Ops::Zero();
    const V a0 = Ops::Add16(v[0], v[7]), a7 = Ops::Sub16(v[0], v[7]);
    const V a1 = Ops::Add16(v[1], v[6]), a6 = Ops::Sub16(v[1], v[6]);
    const V a2 = Ops::Add16(v[2], v[5]), a5 = Ops::Sub16(v[2], v[5]);
    const V a3 = Ops::Add16(v[3], v[4]), a4 = Ops::Sub16(v[3], v[4]);
    // Even part.
    const V b0 = Ops::Add16(a0, a3), b3 = Ops::Sub16(a0, a3);
    const V b1 = Ops::Add16(a1, a2), b2 = Ops::Sub16(a1, a2);
    const Wide<Ops> x0 = MulPair<Ops, kWide>(b0, b1, c.c44);
    const Wide<Ops> x4 = MulPair<Ops, kWide>(b0, Ops::Sub16(zero, b1), c.c44);
    const Wide<Ops> x2 = MulPair<Ops, kWide>(b3, b2, c.c26);
    const Wide<Ops> x6 = MulPair<Ops, kWide>(b3, Ops::Sub16(zero, b2), c.c62);
    // Odd part, with d1 = a4 + m1, d2 = a4 - m1, e1 = a7 + m2, e2 = a7 - m2 spread over two
    // products each (see the header comment).
    const V m1 = MulInvSqrt2<Ops>(Ops::Sub16(a6, a5));
    const V m2 = MulInvSqrt2<Ops>(Ops::Add16(a6, a5));
    const V na4 = Ops::Sub16(zero, a4), nm1 = Ops::Sub16(zero, m1);
    // X1 = c1 e1 + c7 d1, X7 = c7 e1 - c1 d1, X5 = c3 d2 + c5 e2, X3 = c3 e2 - c5 d2.
    const Wide<Ops> x1 = AddWide<Ops>(MulPair<Ops, kWide>(a7, a4, c.c17), MulPair<Ops, kWide>(m2, m1, c.c17));
    const Wide<Ops> x7 = AddWide<Ops>(MulPair<Ops, kWide>(a7, na4, c.c71), MulPair<Ops, kWide>(m2, nm1, c.c71));
    const Wide<Ops> x5 = SubWide<Ops>(MulPair<Ops, kWide>(a4, a7, c.c35), MulPair<Ops, kWide>(m1, m2, c.c35));
    const Wide<Ops> x3 = SubWide<Ops>(MulPair<Ops, kWide>(a7, na4, c.c35), MulPair<Ops, kWide>(m2, nm1, c.c35));
    v[0] = RoundNarrow<Ops, kMode, N>(x0);
    v[1] = RoundNarrow<Ops, kMode, N>(x1);
    v[2] = RoundNarrow<Ops, kMode, N>(x2);
    v[3] = RoundNarrow<Ops, kMode, N>(x3);
    v[4] = RoundNarrow<Ops, kMode, N>(x4);
    v[5] = RoundNarrow<Ops, kMode, N>(x5);
    v[6] = RoundNarrow<Ops, kMode, N>(x6);
    v[7] = RoundNarrow<Ops, kMode, N>(x7);
}

// Mask of the samples outside -255..255, the range the vector arithmetic is exact for (zero when
// there are none).
template <typename Ops>
inline uint32_t OutOfRange(const typename Ops::V v[8]) {
    typename Ops::V lo = v[0], hi = v[0];
    for (int i = 1; i < 8; ++i) {
        lo = Ops::Min16(lo, v[i]);
        hi = Ops::Max16(hi, v[i]);
    }
    return Ops::MoveMask8(
        Ops::Or(Ops::CmpGt16(Ops::Set16(-255), lo), Ops::CmpGt16(hi, Ops::Set16(255))));
}

// Loads the block with v[i] = column i (input i of every row). False when a sample lies outside
// -255..255.
inline bool LoadColumns(const int16_t block[64], __m128i v[8]) {
    for (int i = 0; i < 8; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    if (OutOfRange<SseOps>(v) != 0) return false;
    Transpose8x8(v);
    return true;
}

inline void StoreRows(int16_t block[64], const __m128i v[8]) {
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), v[i]);
}

// Lanes 0..limit (all eight when limit is outside 0..7) as a pmovmskb mask of the 16-bit lanes of
// one block.
inline uint32_t LeadingLanes(int limit) {
    const int lanes = (limit >= 0 && limit < 8) ? limit + 1 : 8;
    return (1u << (2 * lanes)) - 1;
}

// Intra and exact transforms: row pass with R14, column pass with T14.
template <typename Ops>
inline void Transform(__m128i v[8], const int32_t constants[8]) {
    const PassConstants<Ops> c(constants);
    Pass<Ops, false, Rounding::kNearest, 14>(v, c);
    Transpose8x8(v);
    Pass<Ops, false, Rounding::kTruncate, 14>(v, c);
}

// The 32-bit lane sums of a block's four lanes, left in lane 0 of the block's half (and in every
// other lane of it).
template <typename Ops>
inline typename Ops::V SumLanes32(typename Ops::V s) {
    s = Ops::Add32(s, Ops::template Shuffle32<0x4e>(s));
    return Ops::Add32(s, Ops::template Shuffle32<0xb1>(s));
}

// Sum of the 64 samples of v (each within -255..255, so 16-bit partial sums do not wrap).
inline int SumSamples(const __m128i v[8]) {
    __m128i s = v[0];
    for (int i = 1; i < 8; ++i) s = _mm_add_epi16(s, v[i]);
    return _mm_cvtsi128_si32(SumLanes32<SseOps>(_mm_madd_epi16(s, _mm_set1_epi16(1))));
}

// Sums of the magnitudes of each block's 64 samples (each within -255..255, so the 16-bit lane
// sums, at most 8 x 255, do not wrap), in lane 0 of the block's half.
template <typename Ops>
inline typename Ops::V SumAbsSamples(const typename Ops::V v[8]) {
    const typename Ops::V zero = Ops::Zero();
    typename Ops::V s = zero;
    for (int i = 0; i < 8; ++i) s = Ops::Add16(s, Ops::Max16(v[i], Ops::Sub16(zero, v[i])));
    return SumLanes32<Ops>(Ops::Madd(s, Ops::Set16(1)));
}

// Sums of the squares of each block's 64 samples (each within -255..255: madd pairs are at most
// 130050 and the total at most 4161600, within 32 bits), in lane 0 of the block's half.
template <typename Ops>
inline typename Ops::V SumSquares(const typename Ops::V v[8]) {
    typename Ops::V s = Ops::Madd(v[0], v[0]);
    for (int i = 1; i < 8; ++i) s = Ops::Add32(s, Ops::Madd(v[i], v[i]));
    return SumLanes32<Ops>(s);
}

// True when the block's sum of squares or of magnitudes proves every inter level zero
// (InterQdctTables::zeroSquares and zeroSum).
inline bool ProvenZero(const __m128i v[8], int zeroSquares, int zeroSum) {
    return _mm_cvtsi128_si32(SumSquares<SseOps>(v)) <= zeroSquares ||
           _mm_cvtsi128_si32(SumAbsSamples<SseOps>(v)) <= zeroSum;
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

// The inter transform from the row pass on, for the blocks of v (v[i] = column i of each block;
// every block already past the magnitude bounds). `live` has bit j set for each block j still
// possibly nonzero; the bits of the blocks found zero are cleared and the rest hold levels in
// v[k] = output row k. A block's mask bits are the 16 pmovmskb bits of its 128-bit half.
template <typename Ops>
inline uint32_t QdctInterPasses(typename Ops::V v[8], const int32_t x[8], const int32_t y[8],
                                int zeroColumnSum, int rowLimit, int colLimit, uint32_t live) {
    using V = typename Ops::V;
    constexpr int kBlocks = static_cast<int>(sizeof(V) / sizeof(__m128i));
    // Blocks whose bits of `mask` all miss the leading lanes up to `limit` leave `live`.
    auto keepWhereAny = [&](uint32_t mask, int limit) {
        for (int j = 0; j < kBlocks; ++j) {
            if (((mask >> (16 * j)) & LeadingLanes(limit)) == 0) live &= ~(1u << j);
        }
    };
    Pass<Ops, false, Rounding::kNearest, 10>(v, PassConstants<Ops>(x));
    // v[k] = output k of every row. A row is significant when an output has magnitude 16 or more.
    V big = Ops::Zero();
    for (int k = 0; k < 8; ++k) {
        big = Ops::Or(big, Ops::Or(Ops::CmpGt16(v[k], Ops::Set16(15)), Ops::CmpGt16(Ops::Set16(-15), v[k])));
    }
    keepWhereAny(Ops::MoveMask8(big), rowLimit);
    if (live == 0) return 0;
    Transpose8x8(v);
    // v[i] = input i of every column. Columns whose inputs are small enough in sum give zero
    // levels (InterQdctTables::zeroColumnSum); when columns 0..colLimit all do, the plain version
    // ends with a zero block too. The magnitudes (at most 8160) are summed with unsigned
    // saturation, which keeps every sum above the bound above it.
    if (zeroColumnSum >= 0) {
        const V zero = Ops::Zero();
        V sum = zero;
        for (int i = 0; i < 8; ++i) sum = Ops::AddsU16(sum, Ops::Max16(v[i], Ops::Sub16(zero, v[i])));
        const V bound = Ops::Set16(static_cast<int16_t>(std::min(zeroColumnSum, 65535)));
        const V small = Ops::CmpEq16(Ops::SubsU16(sum, bound), zero);
        keepWhereAny(~Ops::MoveMask8(small), colLimit);
        if (live == 0) return 0;
    }
    const PassConstants<Ops> cy(y);
    if (HasWideConstant(y)) {
        Pass<Ops, true, Rounding::kTruncate, 18>(v, cy);
    } else {
        Pass<Ops, false, Rounding::kTruncate, 18>(v, cy);
    }
    // v[k] = output row k; lane c is column c. A column counts when any of its outputs is nonzero.
    V zeroLanes = Ops::CmpEq16(v[0], Ops::Zero());
    for (int k = 1; k < 8; ++k) zeroLanes = Ops::And(zeroLanes, Ops::CmpEq16(v[k], Ops::Zero()));
    keepWhereAny(~Ops::MoveMask8(zeroLanes), colLimit);
    return live;
}

// What QdctInter did: nothing (a sample outside the exact range), 64 zeros, or levels of which
// one is nonzero.
enum class QdctOutcome { kOutOfRange, kZero, kLevels };

inline QdctOutcome QdctInter(int16_t block[64], const int32_t x[8], const int32_t y[8], int zeroSum,
                             int zeroSquares, int zeroColumnSum, int rowLimit, int colLimit) {
    __m128i v[8];
    if (!LoadColumns(block, v)) return QdctOutcome::kOutOfRange;
    // Differences this small give zero levels whatever their pattern.
    if (ProvenZero(v, zeroSquares, zeroSum) ||
        QdctInterPasses<SseOps>(v, x, y, zeroColumnSum, rowLimit, colLimit, 1) == 0) {
        StoreZeros(block);
        return QdctOutcome::kZero;
    }
    StoreRows(block, v);
    return QdctOutcome::kLevels;
}

}  // namespace
}  // namespace r263avo::qdct_simd
