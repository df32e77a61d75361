// AVX2 build of the vector forward transforms: the 16-bit data and transposes as in the SSE2
// version, the 32-bit products and roundings of each pass on eight lanes in one 256-bit register.
#include <immintrin.h>

#include "../Dct.h"
#include "../Qdct.h"
#include "QdctSimd.h"

namespace r263avo {

namespace {

struct Avx2Ops {
    using Wide = __m256i;
    using Const = __m256i;

    static Const Broadcast(__m128i k) { return _mm256_broadcastsi128_si256(k); }
    static Wide Interleave(__m128i a, __m128i b) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                       _mm_unpackhi_epi16(a, b), 1);
    }
    static Wide Madd(Wide pairs, Const k) { return _mm256_madd_epi16(pairs, k); }
    static Wide Add(Wide a, Wide b) { return _mm256_add_epi32(a, b); }
    static Wide Sub(Wide a, Wide b) { return _mm256_sub_epi32(a, b); }
    static Wide And(Wide a, Const m) { return _mm256_and_si256(a, m); }
    static Wide Set1(int32_t c) { return _mm256_set1_epi32(c); }
    template <int N>
    static Wide Sll(Wide a) {
        return _mm256_slli_epi32(a, N);
    }
    template <int N>
    static Wide Sra(Wide a) {
        return _mm256_srai_epi32(a, N);
    }
    template <int N>
    static Wide Srl(Wide a) {
        return _mm256_srli_epi32(a, N);
    }
    static __m128i Narrow(Wide a) {
        return _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    }
};

}  // namespace

void QdctIntraBlockAvx2(int16_t block[64], int qp) {
    if (!qdct_simd::QdctIntra<Avx2Ops>(block, QdctConstants[QdctRow(qp)])) QdctIntraBlockC(block, qp);
}

void QdctInterBlockAvx2(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit,
                        int colLimit) {
    const int q = QdctRow(qp);
    if (!qdct_simd::QdctInter<Avx2Ops>(block, tables.x[q], tables.y[q], rowLimit, colLimit)) {
        QdctInterBlockC(block, tables, qp, rowLimit, colLimit);
    }
}

void ForwardDctBlockAvx2(int16_t block[64]) {
    if (!qdct_simd::ForwardDct<Avx2Ops>(block, QdctConstants[0])) ForwardDctBlockC(block);
}

}  // namespace r263avo
