// 8x8 transpose of 16-bit values in eight registers, shared by the vector transforms. In a file
// compiled for AVX2 it also takes 256-bit registers, whose two 128-bit halves hold two separate
// 8x8 blocks: the unpacks work within each half, so both blocks are transposed at once.
#pragma once

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace r263com::simd {

// Internal linkage: the SSE2 and AVX2 files include this with different instruction sets, and
// neither copy may stand in for the other at link time.
namespace {

inline __m128i UnpackLo16(__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }
inline __m128i UnpackHi16(__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }
inline __m128i UnpackLo32(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
inline __m128i UnpackHi32(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
inline __m128i UnpackLo64(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
inline __m128i UnpackHi64(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }
#if defined(__AVX2__)
inline __m256i UnpackLo16(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
inline __m256i UnpackHi16(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
inline __m256i UnpackLo32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
inline __m256i UnpackHi32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
inline __m256i UnpackLo64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
inline __m256i UnpackHi64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
#endif

// r[i] holds row i on entry and column i on return (of each block).
template <typename V>
inline void Transpose8x8(V r[8]) {
    const V a0 = UnpackLo16(r[0], r[1]), a1 = UnpackHi16(r[0], r[1]);
    const V a2 = UnpackLo16(r[2], r[3]), a3 = UnpackHi16(r[2], r[3]);
    const V a4 = UnpackLo16(r[4], r[5]), a5 = UnpackHi16(r[4], r[5]);
    const V a6 = UnpackLo16(r[6], r[7]), a7 = UnpackHi16(r[6], r[7]);
    const V b0 = UnpackLo32(a0, a2), b1 = UnpackHi32(a0, a2);
    const V b2 = UnpackLo32(a1, a3), b3 = UnpackHi32(a1, a3);
    const V b4 = UnpackLo32(a4, a6), b5 = UnpackHi32(a4, a6);
    const V b6 = UnpackLo32(a5, a7), b7 = UnpackHi32(a5, a7);
    r[0] = UnpackLo64(b0, b4);
    r[1] = UnpackHi64(b0, b4);
    r[2] = UnpackLo64(b1, b5);
    r[3] = UnpackHi64(b1, b5);
    r[4] = UnpackLo64(b2, b6);
    r[5] = UnpackHi64(b2, b6);
    r[6] = UnpackLo64(b3, b7);
    r[7] = UnpackHi64(b3, b7);
}

}  // namespace
}  // namespace r263com::simd
