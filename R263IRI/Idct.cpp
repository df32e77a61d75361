#include "Idct.h"

namespace r263iri {
namespace {

// cos(k pi / 16) x 2048 x sqrt(2) for k = 1, 3, 5, 7 and k = 2, 6 appear below through their
// sums and differences: W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565.
constexpr int kW7 = 565, kW1mW7 = 2276, kW1pW7 = 3406;
constexpr int kW3 = 2408, kW3mW5 = 799, kW3pW5 = 4017;
constexpr int kW6 = 1108, kW2pW6 = 3784, kW2mW6 = 1568;

// (181 x v + 128) >> 8: 1/sqrt(2) in 8-bit fixed point. Computed in 64 bits so that no input,
// however damaged, overflows; the result equals the 32-bit one for every sane block.
inline int Rot(int v) {
    return static_cast<int>((int64_t{181} * v + 128) >> 8);
}

void RowPass(int16_t* b) {
    const int X0 = b[0], X1 = b[1], X2 = b[2], X3 = b[3], X4 = b[4], X5 = b[5], X6 = b[6], X7 = b[7];
    if ((X1 | X2 | X3 | X4 | X5 | X6 | X7) == 0) {
        const int16_t dc = static_cast<int16_t>(X0 * 8);
        for (int i = 0; i < 8; ++i) b[i] = dc;
        return;
    }
    int x0 = X0 * 2048 + 128;
    int x1 = X4 * 2048;
    int t = kW7 * (X1 + X7);
    int x4 = t + kW1mW7 * X1;
    int x5 = t - kW1pW7 * X7;
    t = kW3 * (X5 + X3);
    int x6 = t - kW3mW5 * X5;
    int x7 = t - kW3pW5 * X3;

    int x8 = x0 + x1;
    x0 -= x1;
    t = kW6 * (X2 + X6);
    int x2 = t - kW2pW6 * X6;
    int x3 = t + kW2mW6 * X2;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rot(x4 + x5);
    x4 = Rot(x4 - x5);

    b[0] = static_cast<int16_t>((x7 + x1) >> 8);
    b[1] = static_cast<int16_t>((x3 + x2) >> 8);
    b[2] = static_cast<int16_t>((x0 + x4) >> 8);
    b[3] = static_cast<int16_t>((x8 + x6) >> 8);
    b[4] = static_cast<int16_t>((x8 - x6) >> 8);
    b[5] = static_cast<int16_t>((x0 - x4) >> 8);
    b[6] = static_cast<int16_t>((x3 - x2) >> 8);
    b[7] = static_cast<int16_t>((x7 - x1) >> 8);
}

void ColumnPass(int16_t* b) {
    const int Y0 = b[0], Y1 = b[8], Y2 = b[16], Y3 = b[24], Y4 = b[32], Y5 = b[40], Y6 = b[48], Y7 = b[56];
    if ((Y1 | Y2 | Y3 | Y4 | Y5 | Y6 | Y7) == 0) {
        const int16_t v = static_cast<int16_t>((Y0 + 32) >> 6);
        for (int i = 0; i < 8; ++i) b[8 * i] = v;
        return;
    }
    int y0 = Y0 * 256 + 8192;
    int y1 = Y4 * 256;
    int t = kW7 * (Y1 + Y7);
    int y4 = (t + kW1mW7 * Y1 + 4) >> 3;
    int y5 = (t - kW1pW7 * Y7 + 4) >> 3;
    t = kW3 * (Y5 + Y3);
    int y6 = (t - kW3mW5 * Y5 + 4) >> 3;
    int y7 = (t - kW3pW5 * Y3 + 4) >> 3;

    int y8 = y0 + y1;
    y0 -= y1;
    t = kW6 * (Y2 + Y6);
    int y2 = (t - kW2pW6 * Y6 + 4) >> 3;
    int y3 = (t + kW2mW6 * Y2 + 4) >> 3;
    y1 = y4 + y6;
    y4 -= y6;
    y6 = y5 + y7;
    y5 -= y7;

    y7 = y8 + y3;
    y8 -= y3;
    y3 = y0 + y2;
    y0 -= y2;
    y2 = Rot(y4 + y5);
    y4 = Rot(y4 - y5);

    b[0] = static_cast<int16_t>((y7 + y1) >> 14);
    b[8] = static_cast<int16_t>((y3 + y2) >> 14);
    b[16] = static_cast<int16_t>((y0 + y4) >> 14);
    b[24] = static_cast<int16_t>((y8 + y6) >> 14);
    b[32] = static_cast<int16_t>((y8 - y6) >> 14);
    b[40] = static_cast<int16_t>((y0 - y4) >> 14);
    b[48] = static_cast<int16_t>((y3 - y2) >> 14);
    b[56] = static_cast<int16_t>((y7 - y1) >> 14);
}

}  // namespace

void IdctBlockC(int16_t block[64]) {
    for (int r = 0; r < 8; ++r) RowPass(block + 8 * r);
    for (int c = 0; c < 8; ++c) ColumnPass(block + c);
}

void IdctBlock(int16_t block[64]) {
    IdctBlockC(block);
}

}  // namespace r263iri
