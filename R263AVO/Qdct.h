// Fast forward transform with the quantiser folded into the DCT constants.
// Blocks are 64 signed 16-bit values in raster order (element 8r+c is row r, column c).
#pragma once

#include <cstdint>

namespace r263avo {

// Row 0: round(8192 cos(k pi/16)), k = 1..7; row q >= 1: round(8192 cos(k pi/16) / sqrt(2q)).
// Words 0..6 hold c1..c7, word 7 is 0.
extern const int32_t QdctConstants[32][8];

// Row-pass (x) and column-pass (y) constants for inter blocks, built from QdctConstants.
struct InterQdctTables {
    int32_t x[32][8];
    int32_t y[32][8];
};

// p is value 4 of the speed preset row (1, 10, 25, 35, 45).
void InitInterQdctTables(InterQdctTables& tables, int p);

// The separable transform shared by the intra path and ForwardDctBlock: row pass with R14
// rounding, column pass with T14 truncation, both with the constants c1..c7 in `constants`.
// Replaces the block by the 64 outputs (raster order).
void QdctTransform(int16_t block[64], const int32_t constants[8]);

// Intra block without Annex I: pixels in; INTRADC (1..254) in element 0 and 63 AC levels out.
void QdctIntraBlock(int16_t block[64], int qp);

// Inter block: prediction differences in; 64 levels out, or 64 zeros when an early exit fires.
// rowLimit and colLimit are values 5 and 6 of the speed preset row.
void QdctInterBlock(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit);

}  // namespace r263avo
