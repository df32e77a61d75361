// Advanced intra coding (Annex I) on the decoder side: the store of reconstructed coefficients of
// the neighbouring intra macroblocks, the prediction of each block in modes 0, 2 and 3, and the
// alternate scans of modes 2 and 3.
//
// Blocks are 64 int16 coefficients in raster order; a macroblock is 6 x 64 of them in the order
// Y0, Y1, Y2, Y3, Cb, Cr (the layout of Decoder::coeffs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GetFunctions.h"

namespace r263iri {

// Coefficient 0 of every block of the unavailable record.
constexpr int16_t kAicUnavailableDc = 1024;
constexpr int kAicRecordSize = 6 * 64;

// INTRA_MODE values.
constexpr int kAicModeDc = 0;
constexpr int kAicModeVertical = 2;
constexpr int kAicModeHorizontal = 3;

// H.263 Figure I.2: alternate-horizontal scan (mode 2) and alternate-vertical scan (mode 3),
// scan position -> raster index.
extern const uint8_t kAltHorizontalScan[64];
extern const uint8_t kAltVerticalScan[64];

// Reads one TCOEF event of an Annex I intra block (H.263 Table I.2; ESCAPE as in GetTcoef,
// including the extended level under modified quantisation). Returns false, consuming nothing,
// when the next bits are no code.
bool GetAicTcoef(BitReader& r, bool modifiedQuant, TcoefEvent* event);

// The scan of an Annex I intra block coded in `intraMode` (zigzag for mode 0).
const uint8_t* AicScan(int intraMode);

// One record per macroblock column (the last macroblock decoded in that column of the current
// segment) and, after them, the unavailable record; `left` names the record of the macroblock to
// the left (the unavailable record at the start of a row and after a GOB or slice header).
struct AicStore {
    std::vector<int16_t> records;  // (columns + 1) x kAicRecordSize
    int columns = 0;
    int left = 0;

    // Sizes the store for `mbPerRow` macroblocks per row (at least 1) and resets it.
    void Init(int mbPerRow);
    int16_t* Record(int index) { return records.data() + static_cast<size_t>(index) * kAicRecordSize; }
    const int16_t* Record(int index) const {
        return records.data() + static_cast<size_t>(index) * kAicRecordSize;
    }
    int Unavailable() const { return columns; }
};

// Marks every record unavailable and points `left` at the unavailable record. Run at the start of
// every picture with AIC on and by every GOB or slice header.
void ResetAicStore(AicStore& store);

// At column 0 of every row: the first macroblock of a row has no left neighbour.
void AicStartRow(AicStore& store);

// Predicts one dequantised block in place from its left and above neighbour blocks: mode 0 the
// DC, mode 2 the first row, mode 3 the first column; then brings coefficient 0 into 0..2048 (odd
// inside that range). AC coefficients are not limited.
void AicPredictBlock(int16_t block[64], const int16_t left[64], const int16_t above[64], int intraMode);

// Predicts the six dequantised blocks of an intra macroblock in column `column` (blocks in order
// Y0..Cr, each from blocks already predicted), copies the result into the column's record and
// makes it the left neighbour of the next macroblock. Does nothing for a column outside the store.
void AicPredictMacroblock(AicStore& store, int column, int intraMode, int16_t coeffs[kAicRecordSize]);

// For an inter or skipped macroblock in `column`: later intra blocks must not predict from it.
void AicMarkNotIntra(AicStore& store, int column);

}  // namespace r263iri
