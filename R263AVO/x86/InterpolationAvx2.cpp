// AVX2 version of the phase-plane rows (reference: HalfPelPhaseRowsC in Interpolation.cpp), 32
// samples a step.
//
// PAVGB gives the horizontal and vertical half samples exactly. The centre sample
// (a + b + c + d + 2) >> 2 comes from the two horizontal averages x = avg(a, b), y = avg(c, d):
// avg(x, y) rounds up once too often exactly when a + b or c + d is odd and x + y is odd, so
// subtracting ((a ^ b) | (c ^ d)) & (x ^ y) & 1 gives the exact value without widening to words.
#include <immintrin.h>

#include <cstdint>

namespace r263avo {

// x86/InterpolationSse2.cpp: it ends each row, where the last sample repeats as its own right
// neighbour.
void HalfPelPhaseRowsSse2(const uint8_t* row, const uint8_t* below, int width, uint8_t* h, uint8_t* v,
                          uint8_t* hv);

namespace {

inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

}  // namespace

void HalfPelPhaseRowsAvx2(const uint8_t* row, const uint8_t* below, int width, uint8_t* hp, uint8_t* vp,
                          uint8_t* hvp) {
    const __m256i one = _mm256_set1_epi8(1);
    int i = 0;
    // Steps whose right neighbours all lie inside the row; the rest goes to the SSE2 rows.
    for (; i + 32 < width; i += 32) {
        const __m256i a = Load(row + i), b = Load(row + i + 1);
        const __m256i c = Load(below + i), d = Load(below + i + 1);
        const __m256i x = _mm256_avg_epu8(a, b), y = _mm256_avg_epu8(c, d);
        const __m256i odd = _mm256_and_si256(
            _mm256_and_si256(_mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d)), _mm256_xor_si256(x, y)),
            one);
        Store(hp + i, x);
        Store(vp + i, _mm256_avg_epu8(a, c));
        Store(hvp + i, _mm256_sub_epi8(_mm256_avg_epu8(x, y), odd));
    }
    if (i < width) HalfPelPhaseRowsSse2(row + i, below + i, width - i, hp + i, vp + i, hvp + i);
}

}  // namespace r263avo
