// 8x8 integer inverse DCT (rows, then columns) and its run-time dispatch.
#include "Idct.h"

#include <cstring>

#include "CPUInfo.h"

namespace r263com {

namespace {

// Constants: cos(k pi/16) x 2048 x sqrt(2) for k = 3, 6, 7 (2408, 1108, 565) and the sums and
// differences the butterflies need: 2276 = W1 - W7, 3406 = W1 + W7, 799 = W3 - W5,
// 4017 = W3 + W5, 3784 = W2 + W6, 1568 = W2 - W6; 181 = 256 / sqrt(2).

// (181 v + 128) >> 8, exact: for 16-bit coefficients |v| < 4.9e8, so the product can exceed 32
// bits, but the result (below 3.5e8 in magnitude) and every later sum fit.
inline int32_t Rotate45(int32_t v) {
    return static_cast<int32_t>((int64_t{181} * v + 128) >> 8);
}

void RowStage(int16_t* x) {
    if (!(x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7])) {
        const int16_t v = static_cast<int16_t>(x[0] * 8);
        for (int i = 0; i < 8; ++i) x[i] = v;
        return;
    }
    const int32_t X0 = x[0], X1 = x[1], X2 = x[2], X3 = x[3];
    const int32_t X4 = x[4], X5 = x[5], X6 = x[6], X7 = x[7];
    int32_t x0 = X0 * 2048 + 128;
    int32_t x1 = X4 * 2048;
    int32_t t = 565 * (X1 + X7);
    int32_t x4 = t + 2276 * X1;
    int32_t x5 = t - 3406 * X7;
    t = 2408 * (X5 + X3);
    int32_t x6 = t - 799 * X5;
    int32_t x7 = t - 4017 * X3;

    int32_t x8 = x0 + x1;
    x0 -= x1;
    t = 1108 * (X2 + X6);
    int32_t x2 = t - 3784 * X6;
    int32_t x3 = t + 1568 * X2;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate45(x4 + x5);
    x4 = Rotate45(x4 - x5);

    x[0] = static_cast<int16_t>((x7 + x1) >> 8);
    x[1] = static_cast<int16_t>((x3 + x2) >> 8);
    x[2] = static_cast<int16_t>((x0 + x4) >> 8);
    x[3] = static_cast<int16_t>((x8 + x6) >> 8);
    x[4] = static_cast<int16_t>((x8 - x6) >> 8);
    x[5] = static_cast<int16_t>((x0 - x4) >> 8);
    x[6] = static_cast<int16_t>((x3 - x2) >> 8);
    x[7] = static_cast<int16_t>((x7 - x1) >> 8);
}

void ColumnStage(int16_t* y) {
    if (!(y[8] | y[16] | y[24] | y[32] | y[40] | y[48] | y[56])) {
        const int16_t v = static_cast<int16_t>((y[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i) y[8 * i] = v;
        return;
    }
    const int32_t Y0 = y[0], Y1 = y[8], Y2 = y[16], Y3 = y[24];
    const int32_t Y4 = y[32], Y5 = y[40], Y6 = y[48], Y7 = y[56];
    int32_t y0 = Y0 * 256 + 8192;
    int32_t y1 = Y4 * 256;
    int32_t t = 565 * (Y1 + Y7);
    int32_t y4 = (t + 2276 * Y1 + 4) >> 3;
    int32_t y5 = (t - 3406 * Y7 + 4) >> 3;
    t = 2408 * (Y5 + Y3);
    int32_t y6 = (t - 799 * Y5 + 4) >> 3;
    int32_t y7 = (t - 4017 * Y3 + 4) >> 3;

    int32_t y8 = y0 + y1;
    y0 -= y1;
    t = 1108 * (Y2 + Y6);
    int32_t y2 = (t - 3784 * Y6 + 4) >> 3;
    int32_t y3 = (t + 1568 * Y2 + 4) >> 3;
    y1 = y4 + y6;
    y4 -= y6;
    y6 = y5 + y7;
    y5 -= y7;

    y7 = y8 + y3;
    y8 -= y3;
    y3 = y0 + y2;
    y0 -= y2;
    y2 = Rotate45(y4 + y5);
    y4 = Rotate45(y4 - y5);

    y[0] = static_cast<int16_t>((y7 + y1) >> 14);
    y[8] = static_cast<int16_t>((y3 + y2) >> 14);
    y[16] = static_cast<int16_t>((y0 + y4) >> 14);
    y[24] = static_cast<int16_t>((y8 + y6) >> 14);
    y[32] = static_cast<int16_t>((y8 - y6) >> 14);
    y[40] = static_cast<int16_t>((y0 - y4) >> 14);
    y[48] = static_cast<int16_t>((y3 - y2) >> 14);
    y[56] = static_cast<int16_t>((y7 - y1) >> 14);
}

#if defined(TESSARO_X86)
// Blocks whose nonzero coefficients all lie in the first row or all in the first column (about
// 40 % of the coded blocks of foreman CIF), done by one stage of the reference and copies:
// - first row only: rows 1..7 take the all-AC-zero path (zeros), and every column then holds
//   only its first value, so each output row is ((row stage of row 0) + 32) >> 6;
// - first column only: every row takes the all-AC-zero path (8 X0 across the row), so all eight
//   columns equal the column stage of column 0.
// Other blocks go to `full`, a version that transforms any block like the reference.
template <IdctFunction full>
void IdctFirstRowOrColumn(int16_t block[64]) {
    uint64_t w[16];
    std::memcpy(w, block, sizeof(w));
    uint64_t belowFirstRow = 0;
    for (int i = 2; i < 16; ++i) belowFirstRow |= w[i];
    if (belowFirstRow == 0) {
        RowStage(block);
        int16_t row[8];
        for (int c = 0; c < 8; ++c) row[c] = static_cast<int16_t>((block[c] + 32) >> 6);
        for (int r = 0; r < 8; ++r) std::memcpy(block + 8 * r, row, sizeof(row));
        return;
    }
    // Coefficient 8 r is the low 16 bits of w[2 r] (x86 is little-endian).
    uint64_t rightOfFirstColumn = 0;
    for (int r = 0; r < 8; ++r) rightOfFirstColumn |= (w[2 * r] & ~uint64_t{0xffff}) | w[2 * r + 1];
    if (rightOfFirstColumn == 0) {
        for (int r = 0; r < 8; ++r) block[8 * r] = static_cast<int16_t>(block[8 * r] * 8);
        ColumnStage(block);
        for (int r = 0; r < 8; ++r) {
            int16_t* line = block + 8 * r;
            for (int c = 1; c < 8; ++c) line[c] = line[0];
        }
        return;
    }
    full(block);
}
#endif

}  // namespace

void IdctBlockC(int16_t block[64]) {
    for (int r = 0; r < 8; ++r) RowStage(block + 8 * r);
    for (int c = 0; c < 8; ++c) ColumnStage(block + c);
}

IdctFunction SelectIdct(uint32_t simdFlags) {
    IdctFunction f = IdctBlockC;
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) f = IdctFirstRowOrColumn<IdctBlockSse2>;
    if (simdFlags & cpuinfo::kSimdAvx2) f = IdctFirstRowOrColumn<IdctBlockAvx2>;
#else
    (void)simdFlags;
#endif
    return f;
}

void IdctBlock(int16_t block[64]) {
    SelectIdct(cpuinfo::SimdFlags())(block);
}

}  // namespace r263com
