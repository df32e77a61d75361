// Quantiser tables that both codec sides use.
#pragma once

#include <cstdint>

namespace r263com {

// H.263 Annex T, Table T.2: the chroma QUANT for QUANT 1..31 (entry 0 unused).
extern const uint8_t kChromaQuantT2[32];

// The chroma QUANT for `quant` (limited to 1..31): Table T.2 under Annex T, QUANT itself
// otherwise.
inline int ChromaQuant(int quant, bool modifiedQuant) {
    const int q = quant < 1 ? 1 : (quant > 31 ? 31 : quant);
    return modifiedQuant ? kChromaQuantT2[q] : q;
}

}  // namespace r263com
