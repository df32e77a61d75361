// SSE2 versions of the block dequantisers (reference: Dequant.cpp), eight levels per register.
//
// |REC| = 2 QP |LEVEL| + offset is formed in unsigned 16-bit lanes. |LEVEL| is first limited to
// 1024: any larger level saturates anyway (2 x 1 x 1024 + 1 > 2048), and 1024 x 62 + 31 still fits
// 16 unsigned bits, so the product and the sum are exact. The magnitude is then limited to 2048,
// given the sign of LEVEL and limited to 2047 above, which is SaturateCoefficient of the plain
// version; a zero level stays zero, and a row of them is passed over.
#include <emmintrin.h>

#include "../Dequant.h"

namespace r263com {

namespace {

inline void DequantizeRows(int16_t block[64], int qp) {
    qp = qp < 1 ? 1 : (qp > 31 ? 31 : qp);
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(2 * qp));
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>((qp & 1) ? qp : qp - 1));
    const __m128i zero = _mm_setzero_si128();
    const __m128i maxLevel = _mm_set1_epi16(1024), maxMagnitude = _mm_set1_epi16(2048);
    const __m128i maxCoefficient = _mm_set1_epi16(kMaxCoefficient);
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    for (int i = 0; i < 8; ++i) {
        const __m128i v = _mm_loadu_si128(rows + i);
        // A row of zero levels stays zero; most rows of a coded block are.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)) == 0xffff) continue;
        const __m128i sign = _mm_srai_epi16(v, 15);
        // |v| with -32768 taken as 32767, then limited to 1024.
        const __m128i magnitude = _mm_min_epi16(_mm_max_epi16(v, _mm_subs_epi16(zero, v)), maxLevel);
        __m128i r = _mm_adds_epu16(_mm_mullo_epi16(magnitude, step), offset);
        r = _mm_sub_epi16(r, _mm_subs_epu16(r, maxMagnitude));  // unsigned min(r, 2048)
        r = _mm_andnot_si128(_mm_cmpeq_epi16(v, zero), r);
        r = _mm_sub_epi16(_mm_xor_si128(r, sign), sign);
        _mm_storeu_si128(rows + i, _mm_min_epi16(r, maxCoefficient));
    }
}

}  // namespace

void DequantizeInterBlockSse2(int16_t block[64], int qp) {
    DequantizeRows(block, qp);
}

void DequantizeIntraBlockSse2(int16_t block[64], int qp) {
    const int dc = block[0];
    DequantizeRows(block, qp);
    block[0] = SaturateCoefficient(dc * 8);
}

}  // namespace r263com
