// Quantisation helpers: the Annex T chroma quantiser, level limiting and the Annex I quantiser.
#pragma once

#include <cstdint>

namespace r263avo {

// Row 0: identity; row 1: the chroma QUANT of Annex T (Table T.2) for QUANT 0..31.
extern const uint8_t ChromaQuantTable[2][32];

// qp outside 1..31 is limited to that range.
inline int ChromaQuant(int qp, bool modifiedQuant) {
    return ChromaQuantTable[modifiedQuant ? 1 : 0][qp < 1 ? 1 : (qp > 31 ? 31 : qp)];
}

// Limits levels first..63 to -127..127 (used when Annex T is off, so that the coded and the
// reconstructed level agree).
void LimitLevels(int16_t block[64], int first);

// Annex I intra quantiser over all 64 coefficients (raster order).
void QuantizeIntraBlock(const int16_t coefficients[64], int16_t levels[64], int qp, bool modifiedQuant);

}  // namespace r263avo
