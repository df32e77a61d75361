// Inverse quantisation (the standard's rule, no clipping of the reconstructed coefficient).
#pragma once

#include <cstdint>

namespace r263avo {

// Intra block without Annex I: element 0 = INTRADC x 8, the rest by the odd/even rule. In place.
void DequantizeIntraBlock(int16_t block[64], int qp);

// Inter block: all 64 elements by the odd/even rule. In place.
void DequantizeInterBlock(int16_t block[64], int qp);

// Annex I intra block: REC = 2 x QP x LEVEL for all 64 elements.
void DequantizeIntraCopy(const int16_t levels[64], int16_t coefficients[64], int qp);

}  // namespace r263avo
