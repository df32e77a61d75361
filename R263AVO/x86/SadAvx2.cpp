// AVX2 versions of the motion-search SAD kernels (reference: Sad.cpp).
//
// Same data layout as the SSE2 version, two rows per 256-bit register (row j in the low lane,
// the next row in the high lane). The subsampled kernel has no AVX2 version: with only 8 samples
// a row it gained nothing over SSE2 (bench_kernels), so the SSE2 one stays in use.
#include <immintrin.h>

#include <cstdint>

#include "HalfRing.h"
#include "SadPlane.h"

namespace r263avo {

namespace {

inline __m256i LoadPair(const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// Row sums of PSADBW results: lane 0 (qwords 0 + 1) and lane 1 (qwords 2 + 3).
inline int LowLaneSum(__m256i s) {
    const __m128i lo = _mm256_castsi256_si128(s);
    return _mm_cvtsi128_si32(lo) + _mm_cvtsi128_si32(_mm_srli_si128(lo, 8));
}
inline int HighLaneSum(__m256i s) {
    const __m128i hi = _mm256_extracti128_si256(s, 1);
    return _mm_cvtsi128_si32(hi) + _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
}

inline int Total(__m256i s) {
    const __m128i t = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    return _mm_cvtsi128_si32(_mm_add_epi64(t, _mm_srli_si128(t, 8)));
}

// PSADBW of rows j (low lane) and j + 1 (high lane).
inline __m256i RowPair(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int j) {
    const __m256i lowMask = _mm256_set1_epi16(0x00ff);
    const uint8_t* r0 = ref + 2 * j * refStride;
    const uint8_t* r1 = r0 + 2 * refStride;
    // Even bytes of the loads at 0 and odd bytes of the loads at 15: the 16 samples of each row.
    const __m256i even = _mm256_and_si256(LoadPair(r0, r1), lowMask);
    const __m256i odd = _mm256_srli_epi16(LoadPair(r0 + 15, r1 + 15), 8);
    const __m256i r = _mm256_packus_epi16(even, odd);
    const __m256i c = LoadPair(cur + j * curStride, cur + (j + 1) * curStride);
    return _mm256_sad_epu8(c, r);
}

}  // namespace

int Sad16FullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    // No 16x16 sum exceeds 256 x 255: such a limit needs no tests.
    if (limit >= 256 * 255) {
        __m256i acc = _mm256_setzero_si256();
        for (int j = 0; j < 16; j += 2)
            acc = _mm256_add_epi64(acc, RowPair(cur, curStride, ref, refStride, j));
        return Total(acc);
    }
    int sum = 0;
    for (int j = 0; j < 16; j += 4) {
        const __m256i a = RowPair(cur, curStride, ref, refStride, j);
        const __m256i b = RowPair(cur, curStride, ref, refStride, j + 2);
        // Partial sums only grow, so one test after four rows finds any exit; the rows are then
        // added one by one to return the same partial sum as the row-by-row loop.
        const int total = sum + Total(_mm256_add_epi64(a, b));
        if (total > limit) {
            int partial = sum + LowLaneSum(a);
            if (partial > limit) return partial;
            partial += HighLaneSum(a);
            if (partial > limit) return partial;
            partial += LowLaneSum(b);
            return partial > limit ? partial : total;
        }
        sum = total;
    }
    return sum;
}

namespace {

// One position of a run: the SAD of the 16 rows against the current rows c (rows 2k and 2k + 1
// in the lanes of c[k]), returned as the row-by-row loop returns it for `limit`. Every row is
// summed and the loop's exit is found without branches: the limit is passed on a row that
// depends on the picture, so branches on it would mostly be mispredicted, which costs more than
// the rows an early exit saves.
inline int RunCost(const __m256i c[8], const uint8_t* r, long s, int limit) {
    __m256i sad[8];
    // Four rows a step from one pointer and the strides s, 2s and 3s, which x86 addressing adds
    // for free, instead of an address computed for every row.
    const long s2 = 2 * s, s3 = 3 * s;
    for (int k = 0; k < 8; k += 2, r += 4 * s) {
        sad[k] = _mm256_sad_epu8(c[k], LoadPair(r, r + s));
        sad[k + 1] = _mm256_sad_epu8(c[k + 1], LoadPair(r + s2, r + s3));
    }
    // The word w of qword q in a lane of x holds half q of row 2w + lane (y: rows 8 on). A half is
    // at most 8 x 255, a row 16 x 255, and all 16 rows 65280: words hold every sum below.
    const auto words = [&](int k) {
        return _mm256_or_si256(_mm256_or_si256(sad[k], _mm256_slli_epi64(sad[k + 1], 16)),
                               _mm256_or_si256(_mm256_slli_epi64(sad[k + 2], 32), _mm256_slli_epi64(sad[k + 3], 48)));
    };
    const __m256i x = words(0), y = words(4);
    // Both halves added: qword 0 of lane 0 holds the even rows, of lane 1 the odd rows.
    const __m256i xs = _mm256_add_epi16(x, _mm256_shuffle_epi32(x, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m256i ys = _mm256_add_epi16(y, _mm256_shuffle_epi32(y, _MM_SHUFFLE(1, 0, 3, 2)));
    __m128i lo = _mm_unpacklo_epi16(_mm256_castsi256_si128(xs), _mm256_extracti128_si256(xs, 1));  // rows 0..7
    __m128i hi = _mm_unpacklo_epi16(_mm256_castsi256_si128(ys), _mm256_extracti128_si256(ys, 1));  // 8..15
    // Partial sums after each row.
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 2));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 2));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 4));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 4));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 8));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 8));
    hi = _mm_add_epi16(hi, _mm_broadcastw_epi16(_mm_srli_si128(lo, 14)));
    // The partial sums never fall, so the one the loop stops on (the first above the limit) is
    // the least of those above it, and the full sum when none is: the rows not above the limit
    // become 0xffff, above any sum, and the last row always counts. Picked in registers: a
    // vector store read back at a variable word does not forward and stalls the next position.
    // p > limit when limit + 1 - p saturates to zero; a negative limit is passed on row 0, a
    // limit of 65535 or more never.
    const __m128i l = _mm_set1_epi16(static_cast<short>(limit < 0 ? 0 : (limit >= 65535 ? 65535 : limit + 1)));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lastRow = _mm_set_epi16(-1, 0, 0, 0, 0, 0, 0, 0);
    const __m128i loAbove = _mm_cmpeq_epi16(_mm_subs_epu16(l, lo), zero);
    const __m128i hiAbove = _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(l, hi), zero), lastRow);
    const __m128i none = _mm_set1_epi16(-1);
    const __m128i picked =
        _mm_min_epu16(_mm_blendv_epi8(none, lo, loAbove), _mm_blendv_epi8(none, hi, hiAbove));
    return _mm_cvtsi128_si32(_mm_minpos_epu16(picked)) & 0xffff;
}

}  // namespace

// The run: the 16 current rows sit in eight registers for all the positions.
void Sad16PlaneRunAvx2(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* best, int* costs) {
    __m256i c[8];
    for (int k = 0; k < 8; ++k) c[k] = LoadPair(cur + 2 * k * stride, cur + (2 * k + 1) * stride);
    for (int i = 0; i < n; ++i) {
        costs[i] = RunCost(c, refs[i], stride, *best);
        if (costs[i] < *best) *best = costs[i];
    }
}

namespace {

// Two rows per register for the ring (HalfRing.h).
struct PairRows {
    using Reg = __m256i;
    static constexpr int kRows = 2;
    static Reg Load(const uint8_t* p, long s) { return LoadPair(p, p + s); }
    static Reg Between(Reg a, Reg b) { return _mm256_permute2x128_si256(a, b, 0x21); }
    static Reg Zero() { return _mm256_setzero_si256(); }
    static Reg Ones() { return _mm256_set1_epi8(1); }
    static Reg Avg(Reg a, Reg b) { return _mm256_avg_epu8(a, b); }
    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    static Reg Sub8(Reg a, Reg b) { return _mm256_sub_epi8(a, b); }
    static Reg AddSad(Reg acc, Reg a, Reg b) { return _mm256_add_epi64(acc, _mm256_sad_epu8(a, b)); }
    // Two positions share the final horizontal sum.
    static void Totals(const Reg acc[8], int costs[8]) {
        for (int i = 0; i < 8; i += 2) {
            const Reg a = acc[i], b = acc[i + 1];
            const Reg ab = _mm256_add_epi64(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
            const Reg t = _mm256_add_epi64(ab, _mm256_shuffle_epi32(ab, _MM_SHUFFLE(1, 0, 3, 2)));
            costs[i] = _mm256_cvtsi256_si32(t);
            costs[i + 1] = _mm_cvtsi128_si32(_mm256_extracti128_si256(t, 1));
        }
    }
};

}  // namespace

void Sad16HalfRingAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]) {
    half_ring::Ring<PairRows>(cur, curStride, ref, refStride, costs);
}

// The plain-plane kernels of SadPlane.h with VEX encoding.
int Sad16PlaneFullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<false>(cur, curStride, ref, refStride, limit);
}

int Sad16PlaneSubAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    return sad_simd::PlaneSad<true>(cur, curStride, ref, refStride, limit);
}

}  // namespace r263avo
