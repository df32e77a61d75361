// Fast forward transform with the quantiser folded into the fixed-point DCT constants.
#include "Qdct.h"

#include "CPUInfo.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace r263avo {

// Row 0: round(8192 cos(k pi/16)), k = 1..7 (the unscaled DCT constants).
// Row q >= 1: round(8192 cos(k pi/16) / sqrt(2q)); a pass with each of these divides its output
// by sqrt(2q), so the two passes together divide the DCT coefficient by the step 2q.
const int32_t QdctConstants[32][8] = {
    {8035, 7568, 6811, 5793, 4551, 3135, 1598, 0},  // 0
    {5681, 5352, 4816, 4096, 3218, 2217, 1130, 0},  // 1
    {4017, 3784, 3406, 2896, 2276, 1567, 799, 0},   // 2
    {3280, 3090, 2781, 2365, 1858, 1280, 652, 0},   // 3
    {2841, 2676, 2408, 2048, 1609, 1108, 565, 0},   // 4
    {2541, 2393, 2154, 1832, 1439, 991, 505, 0},    // 5
    {2319, 2185, 1966, 1672, 1314, 905, 461, 0},    // 6
    {2147, 2023, 1820, 1548, 1216, 838, 427, 0},    // 7
    {2009, 1892, 1703, 1448, 1138, 784, 400, 0},    // 8
    {1894, 1784, 1605, 1365, 1073, 739, 377, 0},    // 9
    {1797, 1692, 1523, 1295, 1018, 701, 357, 0},    // 10
    {1713, 1614, 1452, 1235, 970, 668, 341, 0},     // 11
    {1640, 1545, 1390, 1182, 929, 640, 326, 0},     // 12
    {1576, 1484, 1336, 1136, 893, 615, 313, 0},     // 13
    {1518, 1430, 1287, 1095, 860, 592, 302, 0},     // 14
    {1467, 1382, 1244, 1058, 831, 572, 292, 0},     // 15
    {1420, 1338, 1204, 1024, 805, 554, 283, 0},     // 16
    {1378, 1298, 1168, 993, 781, 538, 274, 0},      // 17
    {1339, 1261, 1135, 965, 759, 522, 266, 0},      // 18
    {1303, 1228, 1105, 940, 738, 509, 259, 0},      // 19
    {1270, 1197, 1077, 916, 720, 496, 253, 0},      // 20
    {1240, 1168, 1051, 894, 702, 484, 247, 0},      // 21
    {1211, 1141, 1027, 873, 686, 473, 241, 0},      // 22
    {1185, 1116, 1004, 854, 671, 462, 236, 0},      // 23
    {1160, 1092, 983, 836, 657, 452, 231, 0},       // 24
    {1136, 1070, 963, 819, 644, 443, 226, 0},       // 25
    {1114, 1050, 945, 803, 631, 435, 222, 0},       // 26
    {1093, 1030, 927, 788, 619, 427, 217, 0},       // 27
    {1074, 1011, 910, 774, 608, 419, 214, 0},       // 28
    {1055, 994, 894, 761, 598, 412, 210, 0},        // 29
    {1037, 977, 879, 748, 588, 405, 206, 0},        // 30
    {1020, 961, 865, 736, 578, 398, 203, 0},        // 31
};

namespace {

// The arithmetic is done in 64 bits. Every value the transforms produce from 16-bit pixels or
// differences fits in 32 bits, so the results are those of 32-bit arithmetic; the wider type
// only keeps out-of-range inputs from overflowing.

// Rn: x / 2^n rounded to nearest, halves away from zero.
template <int N>
struct RoundShift {
    int64_t operator()(int64_t x) const {
        constexpr int64_t half = int64_t{1} << (N - 1);
        return x >= 0 ? (x + half) >> N : -((-x + half) >> N);
    }
};

// Tn: x / 2^n truncated toward zero.
template <int N>
struct TruncShift {
    int64_t operator()(int64_t x) const { return x / (int64_t{1} << N); }
};

// M(x) = R16(46341 x): multiplication by 1/sqrt(2).
inline int64_t MulInvSqrt2(int64_t x) {
    return RoundShift<16>()(46341 * x);
}

// One 8-point pass: s0..s7 in, X0..X7 out, constants c[0..6] = c1..c7, outputs rounded by rs.
template <typename Rs>
inline void Butterfly(const int64_t s[8], const int32_t c[8], Rs rs, int64_t out[8]) {
    const int64_t c1 = c[0], c2 = c[1], c3 = c[2], c4 = c[3], c5 = c[4], c6 = c[5], c7 = c[6];
    const int64_t a0 = s[0] + s[7], a7 = s[0] - s[7];
    const int64_t a1 = s[1] + s[6], a6 = s[1] - s[6];
    const int64_t a2 = s[2] + s[5], a5 = s[2] - s[5];
    const int64_t a3 = s[3] + s[4], a4 = s[3] - s[4];
    // Even part.
    const int64_t b0 = a0 + a3, b3 = a0 - a3, b1 = a1 + a2, b2 = a1 - a2;
    out[0] = rs(c4 * (b0 + b1));
    out[4] = rs(c4 * (b0 - b1));
    out[2] = rs(c2 * b3 + c6 * b2);
    out[6] = rs(c6 * b3 - c2 * b2);
    // Odd part.
    const int64_t m1 = MulInvSqrt2(a6 - a5), m2 = MulInvSqrt2(a6 + a5);
    const int64_t d1 = a4 + m1, d2 = a4 - m1, e1 = a7 + m2, e2 = a7 - m2;
    out[1] = rs(c1 * e1 + c7 * d1);
    out[7] = rs(c7 * e1 - c1 * d1);
    out[5] = rs(c3 * d2 + c5 * e2);
    out[3] = rs(c3 * e2 - c5 * d2);
}

inline void ZeroBlock(int16_t block[64]) {
    for (int i = 0; i < 64; ++i) block[i] = 0;
}

}  // namespace

void QdctTransform(int16_t block[64], const int32_t constants[8]) {
    int64_t rows[64];
    int64_t s[8];
    for (int r = 0; r < 8; ++r) {
        for (int i = 0; i < 8; ++i) s[i] = block[8 * r + i];
        Butterfly(s, constants, RoundShift<14>(), rows + 8 * r);
    }
    int64_t out[8];
    for (int col = 0; col < 8; ++col) {
        for (int i = 0; i < 8; ++i) s[i] = rows[8 * i + col];
        Butterfly(s, constants, TruncShift<14>(), out);
        for (int i = 0; i < 8; ++i) block[8 * i + col] = static_cast<int16_t>(out[i]);
    }
}

void QdctIntraBlockC(int16_t block[64], int qp) {
    int sum = 0;  // at most 64 x 255 = 16320
    for (int i = 0; i < 64; ++i) sum += block[i];
    const int dc = sum / 8;
    QdctTransform(block, QdctConstants[QdctRow(qp)]);
    // INTRADC replaces the transform's DC output; 0 and 255 are not valid INTRADC codes.
    int intraDc = (dc + 4) >> 3;
    if (intraDc < 1) intraDc = 1;
    if (intraDc > 254) intraDc = 254;
    block[0] = static_cast<int16_t>(intraDc);
}

namespace {

// Bounds of one pass (Butterfly) with constants c1..c7: every output before its rounding has
// magnitude at most gain * L + offset, L being the sum of the input magnitudes.
// - Even outputs: c4 (b0 +- b1) = c4 (+-s0 +- ... +- s7), and c2 b3 +- c6 b2 or c6 b3 -+ c2 b2,
//   where b3 and b2 are signed sums of disjoint inputs: at most max(c2, c4, c6) L.
// - Odd outputs: with A = |s0| + |s7|, B = |s3| + |s4|, C = |s1| + |s2| + |s5| + |s6|, the terms
//   are c A + c' B + (c + c') |M|, (c, c') = (c1, c7) or (c3, c5) in either order, and
//   |M(u)| = (46341 |u| + 32768) >> 16 <= k |u| + 1/2 with k = 46341 / 65536 and |u| <= C:
//   at most max(c, c', k (c + c')) L + (c + c') / 2.
struct PassBound {
    int64_t gain, offset;
};

PassBound BoundOf(const int32_t c[8]) {
    const int64_t c1 = c[0], c2 = c[1], c3 = c[2], c4 = c[3], c5 = c[4], c6 = c[5], c7 = c[6];
    const int64_t k17 = (46341 * (c1 + c7) + 65535) / 65536, k35 = (46341 * (c3 + c5) + 65535) / 65536;
    const int64_t gain = std::max({c1, c2, c3, c4, c5, c6, c7, k17, k35});
    const int64_t offset = (std::max(c1 + c7, c3 + c5) + 1) / 2;
    return {gain, offset};
}

// The largest Euclidean norm of the eight weight vectors of one pass (Butterfly) with M taken as
// the exact factor k = 46341 / 65536 (its rounding is in PassBound::offset): output k of the
// inputs s is w_k . s + e_k with |e_k| <= offset, so |w_k . s| <= norm ||s||.
// Weights by output: 0 and 4: c4 on every input; 2 and 6: c2 and c6 on four inputs each; the odd
// outputs, e.g. 1 = c1 (s0 - s7) + c7 (s3 - s4) + k (c1 + c7)(s1 - s6) + k (c1 - c7)(s2 - s5): the
// pairs (c1, c7) and (c3, c5) on two inputs each, and k (c + c'), k (c - c') on two more each.
double WeightNorm(const int32_t c[8]) {
    const double c1 = c[0], c2 = c[1], c3 = c[2], c4 = c[3], c5 = c[4], c6 = c[5], c7 = c[6];
    const double k = 46341.0 / 65536.0;
    auto odd = [k](double a, double b) {
        return 2 * a * a + 2 * b * b + 2 * k * k * (a + b) * (a + b) + 2 * k * k * (a - b) * (a - b);
    };
    const double squares = std::max({8 * c4 * c4, 4 * c2 * c2 + 4 * c6 * c6, odd(c1, c7), odd(c3, c5)});
    return std::sqrt(squares) * (1 + 1e-9);  // rounded up
}

}  // namespace

void InitInterQdctZeroBounds(InterQdctTables& tables) {
    for (int q = 0; q < 32; ++q) {
        const PassBound bx = BoundOf(tables.x[q]), by = BoundOf(tables.y[q]);
        // A column whose inputs sum to S in magnitude has outputs of magnitude at most
        // by.gain S + by.offset before T18, and T18 gives 0 below 2^18.
        const int64_t columnSum = by.gain > 0 ? (int64_t{1} << 18) - 1 - by.offset : -1;
        const int64_t s = columnSum < 0 ? -1 : columnSum / by.gain;
        tables.zeroColumnSum[q] = static_cast<int32_t>(std::min<int64_t>(s, INT32_MAX));
        // Row r with input magnitudes summing to L_r has outputs of magnitude at most
        // X_r = (bx.gain L_r + bx.offset + 512) >> 10 after R10, and every column's inputs sum to
        // at most X_0 + ... + X_7 <= (bx.gain L + 8 bx.offset + 4096) >> 10 for the block's sum L.
        // The largest L for which that stays within the column bound:
        const int64_t room = (s + 1) * 1024 - 8 * bx.offset - 4096;
        int64_t sum = -1;
        if (s >= 0 && bx.gain > 0 && room > 0) sum = (room - 1) / bx.gain;
        tables.zeroSum[q] = static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX));
        // The same with norms: row r's outputs after R10 are at most
        // (nx ||s_r|| + bx.offset + 512) / 1024 in magnitude, so every column of them has a norm of
        // at most (nx ||s|| + sqrt(8) (bx.offset + 512)) / 1024 (Minkowski), and its outputs are at
        // most ny times that plus by.offset before T18. All stay below 2^18 while ||s|| < limit.
        const double nx = WeightNorm(tables.x[q]), ny = WeightNorm(tables.y[q]);
        int32_t squares = -1;
        if (nx > 0 && ny > 0) {
            const double column = (std::ldexp(1.0, 18) - static_cast<double>(by.offset)) / ny;
            const double limit = (column * 1024 - std::sqrt(8.0) * static_cast<double>(bx.offset + 512)) / nx;
            if (limit > 0) {
                // Largest integer below limit^2, with a margin for the floating-point rounding.
                const double bound = std::min(limit * limit * (1 - 1e-9), 64.0 * 255 * 255);
                squares = static_cast<int32_t>(std::ceil(bound)) - 1;
            }
        }
        tables.zeroSquares[q] = squares;
    }
}

void InitInterQdctTables(InterQdctTables& tables, int p) {
    if (p < 1) p = 1;
    const double r = std::sqrt(static_cast<double>(p));
    const int32_t a = static_cast<int32_t>(16.0 * r + 0.5);
    const int64_t b = static_cast<int64_t>(16384.0 * r + 0.5);
    for (int q = 0; q < 32; ++q) {
        for (int k = 0; k < 8; ++k) {
            const int32_t c = QdctConstants[q][k];
            tables.x[q][k] = (c / a) * 16;                         // about c / sqrt(p)
            tables.y[q][k] = static_cast<int32_t>((b * c) >> 14);  // about c x sqrt(p)
        }
    }
    InitInterQdctZeroBounds(tables);
}

bool QdctInterBlockC(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit) {
    qp = QdctRow(qp);
    int64_t rows[64];
    int64_t s[8];
    bool significant = false;
    for (int r = 0; r < 8; ++r) {
        for (int i = 0; i < 8; ++i) s[i] = block[8 * r + i];
        int64_t* x = rows + 8 * r;
        Butterfly(s, tables.x[qp], RoundShift<10>(), x);
        for (int i = 0; i < 8 && !significant; ++i) significant = TruncShift<4>()(x[i]) != 0;
        if (!significant && r == rowLimit) break;
    }
    if (!significant) {
        ZeroBlock(block);
        return false;
    }
    int64_t out[64];  // column-major: out[8 * col + row]
    bool nonzero = false;
    int col = 0;
    for (; col < 8; ++col) {
        for (int i = 0; i < 8; ++i) s[i] = rows[8 * i + col];
        int64_t* y = out + 8 * col;
        Butterfly(s, tables.y[qp], TruncShift<18>(), y);
        for (int i = 0; i < 8 && !nonzero; ++i) nonzero = y[i] != 0;
        if (!nonzero && col == colLimit) break;
    }
    if (!nonzero) {
        ZeroBlock(block);
        return false;
    }
    for (int c = 0; c < 8; ++c) {
        for (int r = 0; r < 8; ++r) block[8 * r + c] = static_cast<int16_t>(out[8 * c + r]);
    }
    return true;  // `nonzero`: an output is nonzero
}

QdctIntraFunction SelectQdctIntra(uint32_t simdFlags) {
    QdctIntraFunction f = QdctIntraBlockC;
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) f = QdctIntraBlockSse2;
    if (simdFlags & cpuinfo::kSimdAvx2) f = QdctIntraBlockAvx2;
#else
    (void)simdFlags;
#endif
    return f;
}

QdctInterFunction SelectQdctInter(uint32_t simdFlags) {
    QdctInterFunction f = QdctInterBlockC;
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) f = QdctInterBlockSse2;
    if (simdFlags & cpuinfo::kSimdAvx2) f = QdctInterBlockAvx2;
#else
    (void)simdFlags;
#endif
    return f;
}

namespace {

template <QdctInterFunction kBlock>
int QdctInterPairOfBlocks(int16_t a[64], int16_t b[64], const InterQdctTables& tables, int qp, int rowLimit,
                          int colLimit) {
    return (kBlock(a, tables, qp, rowLimit, colLimit) ? 1 : 0) | (kBlock(b, tables, qp, rowLimit, colLimit) ? 2 : 0);
}

}  // namespace

QdctInterPairFunction SelectQdctInterPair(uint32_t simdFlags) {
    QdctInterPairFunction f = QdctInterPairOfBlocks<QdctInterBlockC>;
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) f = QdctInterPairOfBlocks<QdctInterBlockSse2>;
    if (simdFlags & cpuinfo::kSimdAvx2) f = QdctInterPairAvx2;
#else
    (void)simdFlags;
#endif
    return f;
}

void QdctIntraBlock(int16_t block[64], int qp) {
    SelectQdctIntra(cpuinfo::SimdFlags())(block, qp);
}

bool QdctInterBlock(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit) {
    return SelectQdctInter(cpuinfo::SimdFlags())(block, tables, qp, rowLimit, colLimit);
}

}  // namespace r263avo
