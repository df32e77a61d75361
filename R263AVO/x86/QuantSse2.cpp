// SSE2 version of the level limit and test (reference: LimitLevelsC in Kernels.cpp). PMINSW and
// PMAXSW clamp to -127..127 exactly as the plain comparisons do; with first 1 the intra DC in
// element 0 keeps its value and is left out of the test.
#include <emmintrin.h>

#include "../Kernels.h"

namespace r263avo {

bool LimitLevelsSse2(int16_t block[64], int first, bool limit) {
    const __m128i zero = _mm_setzero_si128();
    // Element 0 when it is excluded (first 1), as a lane mask of the first row.
    const __m128i skip = first > 0 ? _mm_cvtsi32_si128(0xffff) : zero;
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    __m128i any = zero;
    if (limit) {
        const __m128i hi = _mm_set1_epi16(127), lo = _mm_set1_epi16(-127);
        for (int i = 0; i < 8; ++i) {
            const __m128i v = _mm_loadu_si128(rows + i);
            __m128i c = _mm_max_epi16(_mm_min_epi16(v, hi), lo);
            if (i == 0) c = _mm_or_si128(_mm_and_si128(skip, v), _mm_andnot_si128(skip, c));
            _mm_storeu_si128(rows + i, c);
            any = _mm_or_si128(any, i == 0 ? _mm_andnot_si128(skip, c) : c);
        }
    } else {
        any = _mm_andnot_si128(skip, _mm_loadu_si128(rows));
        for (int i = 1; i < 8; ++i) any = _mm_or_si128(any, _mm_loadu_si128(rows + i));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xffff;
}

}  // namespace r263avo
