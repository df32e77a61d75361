// Variable-length decoders of the macroblock and block layers, each a single table look-up on a
// peek of the longest code of its table.
#pragma once

#include <cstdint>

#include "ReadFunctions.h"

namespace r263iri {

// MCBPC results: macroblock type in the low 3 bits, CBPC in bits 4-5.
constexpr int kMcbpcStuffing = 255;
constexpr int kInvalidCode = -1;

// MCBPC of I pictures (types 3, 4); kMcbpcStuffing for the stuffing code, kInvalidCode for a
// pattern that is no code (nothing consumed then).
int GetMcbpcIntra(BitReader& r);

// MCBPC of P pictures (types 0..5), same conventions.
int GetMcbpcInter(BitReader& r);

// CBPY as the intra pattern (bit 3 = Y0 .. bit 0 = Y3); inter macroblocks invert it. kInvalidCode
// for a pattern that is no code (nothing consumed).
int GetCbpy(BitReader& r);

// Motion vector difference in half-pel units, -32..31 (the code of -16 also stands for +16).
// A pattern that is no code gives 0 and consumes nothing.
int GetMvd(BitReader& r);

// Motion vector difference of the unrestricted vector mode under PLUSPTYPE (the reversible codes
// of Annex D), in half-pel units: "1" is 0; otherwise "0", then the bits of |MVD| below its
// leading 1 followed by the sign bit (1 = negative), each bit after the first preceded by a "1",
// and a final "0". Bits past 14 magnitude bits end the code (no picture is that wide).
int GetReversibleMvd(BitReader& r);

// One TCOEF event.
struct TcoefEvent {
    int last = 0;
    int run = 0;
    int level = 0;  // signed; 0 when the escape carried a level of 0
};

// Value of a TCOEF table entry (H.263 Table 16, and Table I.2 of advanced intra coding): LAST, RUN
// and |LEVEL| packed into one number; kTcoefEscape stands for ESCAPE.
constexpr int TcoefValue(int last, int run, int level) {
    return last << 13 | run << 6 | level;
}
constexpr int kTcoefEscape = 0x7FFF;

// The event of a table value other than ESCAPE, with the sign bit that follows its code.
inline void ReadTableEvent(BitReader& r, int16_t value, TcoefEvent* event) {
    event->last = value >> 13;
    event->run = (value >> 6) & 63;
    event->level = r.GetBit() ? -(value & 63) : (value & 63);
}

// Reads one event of the standard TCOEF table, with ESCAPE (LAST, RUN, 8-bit LEVEL, and with
// modified quantisation the 11-bit extended level after LEVEL 1000 0000). Returns false, consuming
// nothing, when the next bits are no code.
bool GetTcoef(BitReader& r, bool modifiedQuant, TcoefEvent* event);

// INTRA_MODE of advanced intra coding: 0 (DC), 2 (vertical) or 3 (horizontal).
int GetIntraMode(BitReader& r);

// Reads DQUANT and returns the new QUANT (kept within 1..31).
int GetDquant(BitReader& r, bool modifiedQuant, int quant);

// Chroma QUANT for a luma QUANT under modified quantisation.
int ChromaQuant(int quant);

// Scan position -> raster index within an 8x8 block.
extern const uint8_t kZigzag[64];

}  // namespace r263iri
