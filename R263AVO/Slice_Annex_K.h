// Slice structure (Annex K, rectangular slices and arbitrary slice order off) and the GOB header:
// the two segment headers the picture coders write in front of a macroblock.
//
// Both headers end a prediction segment: after writing one, the caller resets the motion records
// (ResetMbRecords) and, with advanced intra coding on, the Annex I stores (ResetAicStores). The
// writers here only write bits.
#pragma once

#include "Buffer.h"

namespace r263avo {

// MBA field width (H.263 Table K.2) for a picture of `macroblocks` macroblocks: 6 bits up to 48,
// 7 up to 99, 9 up to 396, 11 up to 1584, 13 up to 6336, 14 above.
int MbaFieldWidth(int macroblocks);

// True when macroblock `mbNumber` starts a slice of `mbPerSlice` macroblocks (values below 1 count
// as 1).
bool SliceStartsAt(int mbNumber, int mbPerSlice);

// Writes the slice header in front of macroblock `mba` with CPM 0 (no SSBI). The first slice of a
// picture (mba 0) follows the picture header directly and carries only SEPB1, MBA, SEPB2 (when
// the MBA field has 12 bits or more) and SEPB3; later slices start with byte stuffing and SSC and
// add SQUANT (`quant`, 1..31) and GFID 00.
void WriteSliceHeader(BitWriter& bw, int mba, int mbaWidth, int quant);

// Writes zero stuffing to a byte boundary, GBSC, GN (`gobNumber`), GFID 00 and GQUANT (`quant`).
void WriteGobHeader(BitWriter& bw, int gobNumber, int quant);

}  // namespace r263avo
