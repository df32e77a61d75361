// AVX2 build of the vector inverse DCT: the 16-bit data and transposes as in the SSE2 version,
// the 32-bit arithmetic of each stage on eight lanes in one 256-bit register.
#include <immintrin.h>

#include "../Idct.h"
#include "IdctSimd.h"

namespace r263com {

namespace {

struct Avx2Ops {
    using Wide = __m256i;

    static Wide MulPair(__m128i a, __m128i b, int16_t c0, int16_t c1) {
        const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                                      _mm_unpackhi_epi16(a, b), 1);
        return _mm256_madd_epi16(pairs, _mm256_broadcastsi128_si256(idct_simd::PairConstant(c0, c1)));
    }
    static Wide Add(Wide a, Wide b) { return _mm256_add_epi32(a, b); }
    static Wide Sub(Wide a, Wide b) { return _mm256_sub_epi32(a, b); }
    static Wide AddConst(Wide a, int32_t c) { return _mm256_add_epi32(a, _mm256_set1_epi32(c)); }
    template <int N>
    static Wide Sra(Wide a) {
        return _mm256_srai_epi32(a, N);
    }
    // (181 v + 128) >> 8 as 181 (v >> 8) + ((181 (v & 255) + 128) >> 8); see IdctSimd.h.
    static Wide Rotate45(Wide v) {
        const __m256i k181 = _mm256_set1_epi32(181);
        const __m256i high = _mm256_mullo_epi32(_mm256_srai_epi32(v, 8), k181);
        const __m256i low = _mm256_mullo_epi32(_mm256_and_si256(v, _mm256_set1_epi32(255)), k181);
        return _mm256_add_epi32(high, _mm256_srai_epi32(_mm256_add_epi32(low, _mm256_set1_epi32(128)), 8));
    }
    template <int N>
    static __m128i NarrowShift(Wide a) {
        const __m256i t = _mm256_srai_epi32(_mm256_slli_epi32(a, 16 - N), 16);
        return _mm_packs_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
    }
};

}  // namespace

void IdctBlockAvx2(int16_t block[64]) {
    idct_simd::Idct8x8<Avx2Ops>(block);
}

}  // namespace r263com
