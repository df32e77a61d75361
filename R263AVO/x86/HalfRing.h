// The half-pel ring kernel (reference: Sad16HalfRingC in Sad.cpp), written once over a vector
// type `V` that holds V::kRows rows of 16 samples: SseRows (one row, SadSse2.cpp) or, in the file
// compiled for AVX2, PairRows (two rows, one in each 128-bit half, SadAvx2.cpp). Every operation
// works within 16-byte halves, so both compute the plain sums exactly.
//
// PAVGB gives (a + b + 1) >> 1, the samples with one half offset. The samples with two,
// (a + b + c + d + 2) >> 2, come from byte averages with a one-bit correction, the rounding-0
// case of the prediction's four-sample mean (InterpolateBlockSse2, where the argument is given).
// Each file includes this header into its own translation unit.
#pragma once

#include <cstdint>

namespace r263avo::half_ring {

namespace {

template <typename V>
inline typename V::Reg Quarter(typename V::Reg x, typename V::Reg y, typename V::Reg sx, typename V::Reg sy) {
    const auto high = V::And(V::And(V::Or(sx, sy), V::Xor(x, y)), V::Ones());
    return V::Sub8(V::Avg(x, y), high);
}

// Rows r, r + s, ... (V::kRows of them) around the ring's centre column: the plane at columns -1,
// 0 and 1, the half samples left and right of column 0, and the low bits of their sums.
template <typename V>
struct RingRows {
    typename V::Reg c, left, right, leftOdd, rightOdd;
    RingRows(const uint8_t* r, long s) {
        const auto l = V::Load(r - 1, s), x = V::Load(r + 1, s);
        c = V::Load(r, s);
        left = V::Avg(l, c);
        right = V::Avg(c, x);
        leftOdd = V::Xor(l, c);
        rightOdd = V::Xor(c, x);
    }
    // With two rows a register: the rows between those of a and b (a's second, b's first).
    RingRows(const RingRows& a, const RingRows& b)
        : c(V::Between(a.c, b.c)),
          left(V::Between(a.left, b.left)),
          right(V::Between(a.right, b.right)),
          leftOdd(V::Between(a.leftOdd, b.leftOdd)),
          rightOdd(V::Between(a.rightOdd, b.rightOdd)) {}
};

// Rows k.. of the eight predictions come from the plane rows above them (`up`), the rows
// themselves (`mid`) and the rows below (`down`). With one row a register, `mid` is the last
// step's `down`; with two, it lies between `up` and `down`.
template <typename V>
inline void Ring(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]) {
    using Reg = typename V::Reg;
    const long s = refStride, cs = curStride;
    Reg acc[8];
    for (auto& a : acc) a = V::Zero();
    RingRows<V> up(ref - s, s), mid(ref, s);
    for (int k = 0; k < 16; k += V::kRows) {
        const RingRows<V> down(ref + (k + 1) * s, s);
        if constexpr (V::kRows == 2) mid = RingRows<V>(up, down);
        const Reg c = V::Load(cur + k * cs, cs);
        const auto add = [&](int i, Reg pred) { acc[i] = V::AddSad(acc[i], c, pred); };
        add(0, Quarter<V>(up.left, mid.left, up.leftOdd, mid.leftOdd));
        add(1, V::Avg(up.c, mid.c));
        add(2, Quarter<V>(up.right, mid.right, up.rightOdd, mid.rightOdd));
        add(3, mid.left);
        add(4, mid.right);
        add(5, Quarter<V>(mid.left, down.left, mid.leftOdd, down.leftOdd));
        add(6, V::Avg(mid.c, down.c));
        add(7, Quarter<V>(mid.right, down.right, mid.rightOdd, down.rightOdd));
        if constexpr (V::kRows == 1) {
            up = mid;
            mid = down;
        } else {
            up = down;
        }
    }
    V::Totals(acc, costs);
}

}  // namespace
}  // namespace r263avo::half_ring
