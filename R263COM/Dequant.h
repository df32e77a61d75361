// Inverse quantisation, the one rule both codec sides reconstruct with: the odd/even rule of the
// standard, and REC = 2 x QP x LEVEL for advanced intra coding, each saturated to -2048..2047, the
// range of the inverse DCT's input.
#pragma once

#include <cstdint>

namespace r263com {

constexpr int kMinCoefficient = -2048, kMaxCoefficient = 2047;

inline int16_t SaturateCoefficient(int rec) {
    return static_cast<int16_t>(rec < kMinCoefficient ? kMinCoefficient
                                                      : (rec > kMaxCoefficient ? kMaxCoefficient : rec));
}

// |REC| = QP (2 |LEVEL| + 1), minus 1 for an even QP, with the sign of LEVEL; 0 stays 0. qp 1..31.
inline int16_t ReconstructLevel(int level, int qp) {
    if (level == 0) return 0;
    const int offset = (qp & 1) ? qp : qp - 1;
    return SaturateCoefficient(2 * qp * level + (level > 0 ? offset : -offset));
}

// Advanced intra coding: REC = 2 x QP x LEVEL. qp 1..31.
inline int16_t ReconstructAicLevel(int level, int qp) {
    return SaturateCoefficient(2 * qp * level);
}

// Intra block without Annex I: element 0 = INTRADC x 8, the rest by the odd/even rule. In place.
void DequantizeIntraBlock(int16_t block[64], int qp);

// Inter block: all 64 elements by the odd/even rule. In place.
void DequantizeInterBlock(int16_t block[64], int qp);

// Annex I intra block: REC = 2 x QP x LEVEL for all 64 elements.
void DequantizeIntraCopy(const int16_t levels[64], int16_t coefficients[64], int qp);

// The block dequantisers above as kernels, with their SIMD versions (bit-exact for every input).
using DequantizeBlockFunction = void (*)(int16_t block[64], int qp);
struct DequantKernels {
    DequantizeBlockFunction intra;  // DequantizeIntraBlock
    DequantizeBlockFunction inter;  // DequantizeInterBlock
};
// The versions for the given cpuinfo SIMD flags.
DequantKernels SelectDequantKernels(uint32_t simdFlags);

#if defined(TESSARO_X86)
// Call only when the processor has SSE2.
void DequantizeIntraBlockSse2(int16_t block[64], int qp);
void DequantizeInterBlockSse2(int16_t block[64], int qp);
#endif

}  // namespace r263com
