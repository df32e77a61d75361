// Chroma quantiser of Annex T, level limiting and the Annex I intra quantiser.
#include "Quant.h"

namespace r263avo {

const uint8_t ChromaQuantTable[2][32] = {
    // Without Annex T the chroma blocks use QUANT itself.
    {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
     16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31},
    // H.263 Annex T, Table T.2: chroma QUANT for QUANT 1..31 (entry 0 unused).
    {0,  1,  2,  3,  4,  5,  6,  6,  7,  8,  9,  9,  10, 10, 11, 11,
     12, 12, 12, 13, 13, 13, 14, 14, 14, 14, 14, 15, 15, 15, 15, 15},
};

void LimitLevels(int16_t block[64], int first) {
    for (int i = first < 0 ? 0 : first; i < 64; ++i) {
        if (block[i] > 127) block[i] = 127;
        if (block[i] < -127) block[i] = -127;
    }
}

void QuantizeIntraBlock(const int16_t coefficients[64], int16_t levels[64], int qp, bool modifiedQuant) {
    if (qp < 1) qp = 1;
    if (qp > 31) qp = 31;
    const int step = 2 * qp;
    // Rounding offset 3QP/4 with Annex T or from QP 9 up, 3QP/2 below (both toward the larger
    // magnitude); divisions truncate toward zero.
    const bool smallOffset = modifiedQuant || qp >= 9;
    for (int i = 0; i < 64; ++i) {
        const int f = coefficients[i];
        const int s = f >= 0 ? 3 : -3;
        const int offset = smallOffset ? (s * qp) / 4 : (s * step) / 4;
        int level = (f + offset) / step;
        // Without Annex T a level must fit the 8-bit LEVEL field. Limiting it here, before the
        // block is reconstructed, keeps the encoder's reconstruction equal to the decoder's.
        if (!modifiedQuant) {
            if (level > 127) level = 127;
            if (level < -127) level = -127;
        }
        levels[i] = static_cast<int16_t>(level);
    }
}

}  // namespace r263avo
