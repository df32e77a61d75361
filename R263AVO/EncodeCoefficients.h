// Macroblock-layer and block-layer writers: MCBPC, CBPY, INTRA_MODE, DQUANT, MVD, INTRADC and
// TCOEF events with the standard's VLC tables.
#pragma once

#include <cstdint>

#include "Buffer.h"
#include "R263COM/CodingTypes.h"

namespace r263avo {

// Scan order tables: entry k is the raster index of the k-th coefficient in scan order.
extern const uint8_t ZigzagScan[64];
extern const uint8_t AltHorizontalScan[64];
extern const uint8_t AltVerticalScan[64];

// Macroblock types of the MCBPC tables (shared names).
using r263com::kMbInter;
using r263com::kMbInter4V;
using r263com::kMbInter4VQ;
using r263com::kMbInterQ;
using r263com::kMbIntra;
using r263com::kMbIntraQ;

void WriteMcbpcI(BitWriter& bw, int type, int cbpc);  // type 3 or 4
void WriteMcbpcP(BitWriter& bw, int type, int cbpc);  // type 0..5
// cbpy is the value to code; the caller inverts it (XOR 15) for inter macroblocks.
void WriteCbpy(BitWriter& bw, int cbpy);
void WriteIntraMode(BitWriter& bw, int aicMode);  // 0, 2 or 3
// Without Annex T: change -2, -1, +1, +2. With Annex T: change from Table T.1's columns, or 0
// for the absolute form carrying newQuant.
// newQuant is the QUANT after the change. Without Annex T, changes outside -2..+2 are limited to
// that range (0 is not codable there and is written as +1: callers must not ask for it). With
// Annex T, a change that neither column of Table T.1 gives at QUANT newQuant - change is written
// in the absolute form, so the decoder always arrives at newQuant.
void WriteDquant(BitWriter& bw, int change, bool modifiedQuant, int newQuant);

// The change of QUANT that the Annex T DQUANT code 10 (secondColumn false) or 11 (true) selects
// at the given QUANT (H.263 Table T.1).
int ModifiedQuantChange(int quant, bool secondColumn);

// Wraps a motion vector difference into -32..31 half-pels.
int WrapMvd(int mvd);
// Writes one MVD component (already wrapped) with the code of its magnitude and a sign bit.
void WriteMvdComponent(BitWriter& bw, int mvd);

// Writes the code of (run, |level|, last) with its sign bit and returns its length without the
// sign, or writes nothing and returns 0 when the table has no code.
int TcoefVlcLookup(BitWriter& bw, int run, int level, int last);
int AicVlcLookup(BitWriter& bw, int run, int level, int last);

// Block writers. `levels` is the block in raster order; `scan` maps scan positions to raster
// indices. Without Annex T, escaped levels beyond -127..127 are limited in `levels` itself, so the
// caller reconstructs what the decoder will.
// Intra block without Annex I: INTRADC (element 0, 1..254; 128 written as 255), then positions
// 1..63.
void CodeIntraBlock(BitWriter& bw, int16_t levels[64], bool modifiedQuant);
// Inter block: positions 0..63 in zigzag order.
void CodeInterBlock(BitWriter& bw, int16_t levels[64], bool modifiedQuant);
// Annex I intra block: positions 0..63 in the given scan, INTRA VLC table of Annex I.
void CodeAicBlock(BitWriter& bw, int16_t levels[64], const uint8_t scan[64], bool modifiedQuant);

// True when any level at raster positions given by scan[first..63] is nonzero.
bool BlockHasLevels(const int16_t levels[64], int first);

}  // namespace r263avo
