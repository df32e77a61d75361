#include "Dequant.h"

#include "CPUInfo.h"

namespace r263com {

namespace {

inline int ClampQp(int qp) {
    return qp < 1 ? 1 : (qp > 31 ? 31 : qp);
}

}  // namespace

void DequantizeIntraBlock(int16_t block[64], int qp) {
    qp = ClampQp(qp);
    block[0] = SaturateCoefficient(block[0] * 8);
    for (int i = 1; i < 64; ++i) block[i] = ReconstructLevel(block[i], qp);
}

void DequantizeInterBlock(int16_t block[64], int qp) {
    qp = ClampQp(qp);
    for (int i = 0; i < 64; ++i) block[i] = ReconstructLevel(block[i], qp);
}

void DequantizeIntraCopy(const int16_t levels[64], int16_t coefficients[64], int qp) {
    qp = ClampQp(qp);
    for (int i = 0; i < 64; ++i) coefficients[i] = ReconstructAicLevel(levels[i], qp);
}

DequantKernels SelectDequantKernels(uint32_t simdFlags) {
    DequantKernels k{DequantizeIntraBlock, DequantizeInterBlock};
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) k = {DequantizeIntraBlockSse2, DequantizeInterBlockSse2};
#else
    (void)simdFlags;
#endif
    return k;
}

}  // namespace r263com
