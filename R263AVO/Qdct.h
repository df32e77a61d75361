// Fast forward transform with the quantiser folded into the DCT constants.
// Blocks are 64 signed 16-bit values in raster order (element 8r+c is row r, column c).
#pragma once

#include <cstdint>

namespace r263avo {

// Row 0: round(8192 cos(k pi/16)), k = 1..7; row q >= 1: round(8192 cos(k pi/16) / sqrt(2q)).
// Words 0..6 hold c1..c7, word 7 is 0.
extern const int32_t QdctConstants[32][8];

// Row-pass (x) and column-pass (y) constants for inter blocks, built from QdctConstants.
//
// With them, per quantiser row, two bounds under which every level of a block is zero, so that
// the SIMD versions can skip work whose result is known (see InitInterQdctTables):
// - zeroSum: a block whose differences have absolute values summing to at most this;
// - zeroSquares: a block whose differences have squares summing to at most this;
// - zeroColumnSum: a column of row-pass outputs whose absolute values sum to at most this gives
//   eight zero levels; when that holds for columns 0..colLimit the block is zero.
// Zero-initialised tables (bounds 0) only ever skip blocks that are zero already.
struct InterQdctTables {
    int32_t x[32][8];
    int32_t y[32][8];
    int32_t zeroSum[32];
    int32_t zeroSquares[32];
    int32_t zeroColumnSum[32];
};

// p is value 4 of the speed preset row (1, 10, 25, 35, 45). Fills the zero bounds as well.
void InitInterQdctTables(InterQdctTables& tables, int p);

// The zero bounds of tables whose constants x and y are set. They are proven from the constants
// alone, for any inputs: a bound of -1 proves nothing.
void InitInterQdctZeroBounds(InterQdctTables& tables);

// The separable transform shared by the intra path and ForwardDctBlock: row pass with R14
// rounding, column pass with T14 truncation, both with the constants c1..c7 in `constants`.
// Replaces the block by the 64 outputs (raster order).
void QdctTransform(int16_t block[64], const int32_t constants[8]);

// The quantiser row the transforms use: qp limited to 1..31.
inline int QdctRow(int qp) {
    return qp < 1 ? 1 : (qp > 31 ? 31 : qp);
}

// Intra block without Annex I: pixels in; INTRADC (1..254) in element 0 and 63 AC levels out.
void QdctIntraBlock(int16_t block[64], int qp);

// Inter block: prediction differences in; 64 levels out, or 64 zeros when an early exit fires.
// rowLimit and colLimit are values 5 and 6 of the speed preset row. Returns whether a level is
// nonzero (false: the block holds 64 zeros), which every version tells alike.
bool QdctInterBlock(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit);

// The plain reference versions; the two above dispatch to a SIMD version when one is available.
void QdctIntraBlockC(int16_t block[64], int qp);
bool QdctInterBlockC(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit);

using QdctIntraFunction = void (*)(int16_t block[64], int qp);
using QdctInterFunction = bool (*)(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit,
                                   int colLimit);
// Two inter blocks with the same quantiser, each transformed as by QdctInterBlock; bit 0 of the
// result tells whether `a` has a nonzero level, bit 1 whether `b` has.
using QdctInterPairFunction = int (*)(int16_t a[64], int16_t b[64], const InterQdctTables& tables, int qp,
                                      int rowLimit, int colLimit);

// The versions QdctIntraBlock and QdctInterBlock use for the given cpuinfo SIMD flags, and the
// pair version that goes with them (two calls of the one-block version where no instruction set
// does both blocks at once).
QdctIntraFunction SelectQdctIntra(uint32_t simdFlags);
QdctInterFunction SelectQdctInter(uint32_t simdFlags);
QdctInterPairFunction SelectQdctInterPair(uint32_t simdFlags);

#if defined(TESSARO_X86)
// SIMD versions, bit-exact with the plain ones for every input (blocks with a sample outside
// -255..255, which the encoder never passes, are handed to the plain version). Call only when
// the processor has the instruction set.
void QdctIntraBlockSse2(int16_t block[64], int qp);
void QdctIntraBlockAvx2(int16_t block[64], int qp);
bool QdctInterBlockSse2(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit);
bool QdctInterBlockAvx2(int16_t block[64], const InterQdctTables& tables, int qp, int rowLimit, int colLimit);
int QdctInterPairAvx2(int16_t a[64], int16_t b[64], const InterQdctTables& tables, int qp, int rowLimit,
                      int colLimit);
#endif

}  // namespace r263avo
