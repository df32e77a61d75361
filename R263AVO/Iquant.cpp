// Inverse quantisation of intra, inter and Annex I intra blocks.
#include "Iquant.h"

namespace r263avo {

namespace {

inline int ClampQp(int qp) {
    return qp < 1 ? 1 : (qp > 31 ? 31 : qp);
}

// |REC| = QP (2 |LEVEL| + 1), minus 1 for even QP, with the sign of LEVEL; 0 stays 0.
inline int16_t Reconstruct(int level, int qp, int oddOffset) {
    if (level == 0) return 0;
    const int rec = 2 * qp * level + (level > 0 ? oddOffset : -oddOffset);
    return static_cast<int16_t>(rec);
}

}  // namespace

void DequantizeIntraBlock(int16_t block[64], int qp) {
    qp = ClampQp(qp);
    const int offset = (qp & 1) ? qp : qp - 1;
    block[0] = static_cast<int16_t>(block[0] * 8);
    for (int i = 1; i < 64; ++i) block[i] = Reconstruct(block[i], qp, offset);
}

void DequantizeInterBlock(int16_t block[64], int qp) {
    qp = ClampQp(qp);
    const int offset = (qp & 1) ? qp : qp - 1;
    for (int i = 0; i < 64; ++i) block[i] = Reconstruct(block[i], qp, offset);
}

void DequantizeIntraCopy(const int16_t levels[64], int16_t coefficients[64], int qp) {
    qp = ClampQp(qp);
    for (int i = 0; i < 64; ++i) coefficients[i] = static_cast<int16_t>(2 * qp * levels[i]);
}

}  // namespace r263avo
