// AVX2 build of the forward transforms.
// - The inter pair kernel is the madd transform of QdctSimd.h on two blocks at once, one in each
//   128-bit half; each half computes what the SSE2 kernel computes for its block.
// - The one-block kernels work on eight lines at once in 32-bit lanes. The block is loaded and
//   range-checked as in the SSE2 version (QdctSimd.h), widened to 32 bits, and each pass is the
//   plain butterfly on 256-bit registers (vpmulld by the constants), so no pass needs the 16-bit
//   bounds or the product splitting of the madd version: for samples in -255..255 every value of
//   the plain 32-bit computation fits in 32 bits (see QdctSimd.h), and the lanes compute exactly
//   those values. Only the transposes and the final narrowing move data across lanes.
#include <immintrin.h>

#include "../Dct.h"
#include "../Qdct.h"
#include "QdctSimd.h"

namespace r263avo {

namespace {

using V = __m256i;

template <int N>
inline V RoundNearest(V x) {
    return _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_add_epi32(x, _mm256_set1_epi32(1 << (N - 1))), _mm256_srai_epi32(x, 31)), N);
}

template <int N>
inline V Truncate(V x) {
    return _mm256_srai_epi32(_mm256_add_epi32(x, _mm256_srli_epi32(_mm256_srai_epi32(x, 31), 32 - N)), N);
}

// Rn or Tn, chosen at compile time.
template <bool kTruncate, int N>
inline V RoundOut(V x) {
    if constexpr (kTruncate) {
        return Truncate<N>(x);
    } else {
        return RoundNearest<N>(x);
    }
}

inline V Mul(V a, V b) {
    return _mm256_mullo_epi32(a, b);
}

// M(x) = R16(46341 x).
inline V MulInvSqrt2(V x) {
    return RoundNearest<16>(Mul(x, _mm256_set1_epi32(46341)));
}

// One pass over eight lines: s[i] holds input i of every line; on return s[k] holds output k.
template <bool kTruncate, int N>
inline void Pass(V s[8], const int32_t c[8]) {
    const V c1 = _mm256_set1_epi32(c[0]), c2 = _mm256_set1_epi32(c[1]), c3 = _mm256_set1_epi32(c[2]);
    const V c4 = _mm256_set1_epi32(c[3]), c5 = _mm256_set1_epi32(c[4]), c6 = _mm256_set1_epi32(c[5]);
    const V c7 = _mm256_set1_epi32(c[6]);
    const V a0 = _mm256_add_epi32(s[0], s[7]), a7 = _mm256_sub_epi32(s[0], s[7]);
    const V a1 = _mm256_add_epi32(s[1], s[6]), a6 = _mm256_sub_epi32(s[1], s[6]);
    const V a2 = _mm256_add_epi32(s[2], s[5]), a5 = _mm256_sub_epi32(s[2], s[5]);
    const V a3 = _mm256_add_epi32(s[3], s[4]), a4 = _mm256_sub_epi32(s[3], s[4]);
    // Even part.
    const V b0 = _mm256_add_epi32(a0, a3), b3 = _mm256_sub_epi32(a0, a3);
    const V b1 = _mm256_add_epi32(a1, a2), b2 = _mm256_sub_epi32(a1, a2);
    s[0] = RoundOut<kTruncate, N>(Mul(c4, _mm256_add_epi32(b0, b1)));
    s[4] = RoundOut<kTruncate, N>(Mul(c4, _mm256_sub_epi32(b0, b1)));
    s[2] = RoundOut<kTruncate, N>(_mm256_add_epi32(Mul(c2, b3), Mul(c6, b2)));
    s[6] = RoundOut<kTruncate, N>(_mm256_sub_epi32(Mul(c6, b3), Mul(c2, b2)));
    // Odd part.
    const V m1 = MulInvSqrt2(_mm256_sub_epi32(a6, a5)), m2 = MulInvSqrt2(_mm256_add_epi32(a6, a5));
    const V d1 = _mm256_add_epi32(a4, m1), d2 = _mm256_sub_epi32(a4, m1);
    const V e1 = _mm256_add_epi32(a7, m2), e2 = _mm256_sub_epi32(a7, m2);
    s[1] = RoundOut<kTruncate, N>(_mm256_add_epi32(Mul(c1, e1), Mul(c7, d1)));
    s[7] = RoundOut<kTruncate, N>(_mm256_sub_epi32(Mul(c7, e1), Mul(c1, d1)));
    s[5] = RoundOut<kTruncate, N>(_mm256_add_epi32(Mul(c3, d2), Mul(c5, e2)));
    s[3] = RoundOut<kTruncate, N>(_mm256_sub_epi32(Mul(c3, e2), Mul(c5, d2)));
}

inline void TransposeDwords(V r[8]) {
    const V t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    const V t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    const V t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    const V t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    const V u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const V u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const V u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const V u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// Loads the block as 32-bit columns (s[i] = input i of every row); false when out of range.
inline bool Load(const int16_t block[64], V s[8]) {
    __m128i v[8];
    if (!qdct_simd::LoadColumns(block, v)) return false;
    for (int i = 0; i < 8; ++i) s[i] = _mm256_cvtepi16_epi32(v[i]);
    return true;
}

// Stores output rows s[0..7] as 16-bit values (they fit, so saturation never acts).
inline void Store(int16_t block[64], const V s[8]) {
    for (int i = 0; i < 8; i += 2) {
        const V packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(s[i], s[i + 1]), 0xd8);
        _mm256_storeu_si256(reinterpret_cast<V*>(block + 8 * i), packed);
    }
}

// The lanes 0..limit (all eight when limit is outside 0..7) as a mask of movemask_ps bits.
inline int LeadingLanes(int limit) {
    return (limit >= 0 && limit < 8) ? (2 << limit) - 1 : 0xff;
}

inline int LaneMask(V m) {
    return _mm256_movemask_ps(_mm256_castsi256_ps(m));
}

void Transform(V s[8], const int32_t constants[8]) {
    Pass<false, 14>(s, constants);
    TransposeDwords(s);
    Pass<true, 14>(s, constants);
}

}  // namespace

void QdctIntraBlockAvx2(int16_t block[64], int qp) {
    V s[8];
    if (!Load(block, s)) {
        QdctIntraBlockC(block, qp);
        return;
    }
    __m256i sum = s[0];
    for (int i = 1; i < 8; ++i) sum = _mm256_add_epi32(sum, s[i]);
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i pairs = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4e));
    const int dc = _mm_cvtsi128_si32(_mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 0xb1))) / 8;
    Transform(s, QdctConstants[QdctRow(qp)]);
    Store(block, s);
    // INTRADC replaces the transform's DC output.
    const int intraDc = (dc + 4) >> 3;
    block[0] = static_cast<int16_t>(intraDc < 1 ? 1 : (intraDc > 254 ? 254 : intraDc));
}

bool QdctInterBlockAvx2(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit,
                        int colLimit) {
    __m128i v[8];
    if (!qdct_simd::LoadColumns(block, v)) {
        return QdctInterBlockC(block, tables, qp, rowLimit, colLimit);
    }
    const int q = QdctRow(qp);
    // Differences this small give zero levels whatever their pattern.
    if (qdct_simd::ProvenZero(v, tables.zeroSquares[q], tables.zeroSum[q])) {
        qdct_simd::StoreZeros(block);
        return false;
    }
    V s[8];
    for (int i = 0; i < 8; ++i) s[i] = _mm256_cvtepi16_epi32(v[i]);
    Pass<false, 10>(s, tables.x[q]);
    // s[k] = output k of every row; a row is significant when an output has magnitude 16 or more.
    V big = _mm256_setzero_si256();
    for (int k = 0; k < 8; ++k)
        big = _mm256_or_si256(big, _mm256_cmpgt_epi32(_mm256_abs_epi32(s[k]), _mm256_set1_epi32(15)));
    if ((LaneMask(big) & LeadingLanes(rowLimit)) == 0) {
        qdct_simd::StoreZeros(block);
        return false;
    }
    TransposeDwords(s);
    // s[i] = input i of every column (lane c is column c). Columns whose inputs are small enough
    // in sum give zero levels (InterQdctTables::zeroColumnSum); when columns 0..colLimit all do,
    // the plain version ends with a zero block too.
    V sum = _mm256_abs_epi32(s[0]);
    for (int i = 1; i < 8; ++i) sum = _mm256_add_epi32(sum, _mm256_abs_epi32(s[i]));
    const int large = LaneMask(_mm256_cmpgt_epi32(sum, _mm256_set1_epi32(tables.zeroColumnSum[q])));
    if ((large & LeadingLanes(colLimit)) == 0) {
        qdct_simd::StoreZeros(block);
        return false;
    }
    Pass<true, 18>(s, tables.y[q]);
    // s[k] = output row k; lane c is column c.
    V any = _mm256_setzero_si256();
    for (int k = 0; k < 8; ++k) any = _mm256_or_si256(any, s[k]);
    const int zeroColumns = LaneMask(_mm256_cmpeq_epi32(any, _mm256_setzero_si256()));
    if ((~zeroColumns & LeadingLanes(colLimit)) == 0) {
        qdct_simd::StoreZeros(block);
        return false;
    }
    Store(block, s);
    return true;  // a column up to the limit has a nonzero output
}

int QdctInterPairAvx2(int16_t a[64], int16_t b[64], const InterQdctTables& tables, int qp, int rowLimit,
                      int colLimit) {
    using Ops = qdct_simd::PairOps;
    // Block a in the low 128-bit halves, block b in the high ones.
    __m256i v[8];
    for (int i = 0; i < 8; ++i) {
        const __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * i));
        const __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * i));
        v[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(rowA), rowB, 1);
    }
    if (qdct_simd::OutOfRange<Ops>(v) != 0) {
        // The one-block kernel hands such a block to the plain version.
        return (QdctInterBlockAvx2(a, tables, qp, rowLimit, colLimit) ? 1 : 0) |
               (QdctInterBlockAvx2(b, tables, qp, rowLimit, colLimit) ? 2 : 0);
    }
    qdct_simd::Transpose8x8(v);
    const int q = QdctRow(qp);
    // Differences this small give zero levels whatever their pattern. When that settles one block
    // of the pair, the other goes alone: one block costs less on the one-block kernel.
    const __m256i squares = qdct_simd::SumSquares<Ops>(v), magnitudes = qdct_simd::SumAbsSamples<Ops>(v);
    const bool zeroA = _mm256_extract_epi32(squares, 0) <= tables.zeroSquares[q] ||
                       _mm256_extract_epi32(magnitudes, 0) <= tables.zeroSum[q];
    const bool zeroB = _mm256_extract_epi32(squares, 4) <= tables.zeroSquares[q] ||
                       _mm256_extract_epi32(magnitudes, 4) <= tables.zeroSum[q];
    if (zeroA || zeroB) {
        int levels = 0;
        if (zeroA) {
            qdct_simd::StoreZeros(a);
        } else if (QdctInterBlockAvx2(a, tables, qp, rowLimit, colLimit)) {
            levels |= 1;
        }
        if (zeroB) {
            qdct_simd::StoreZeros(b);
        } else if (QdctInterBlockAvx2(b, tables, qp, rowLimit, colLimit)) {
            levels |= 2;
        }
        return levels;
    }
    const uint32_t live = qdct_simd::QdctInterPasses<Ops>(v, tables.x[q], tables.y[q], tables.zeroColumnSum[q],
                                                          rowLimit, colLimit, 3);
    for (int i = 0; i < 8; ++i) {
        const __m128i rowA = (live & 1) ? _mm256_castsi256_si128(v[i]) : _mm_setzero_si128();
        const __m128i rowB = (live & 2) ? _mm256_extracti128_si256(v[i], 1) : _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 8 * i), rowA);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * i), rowB);
    }
    return static_cast<int>(live);
}

void ForwardDctBlockAvx2(int16_t block[64]) {
    V s[8];
    if (!Load(block, s)) {
        ForwardDctBlockC(block);
        return;
    }
    Transform(s, QdctConstants[0]);
    Store(block, s);
}

}  // namespace r263avo
