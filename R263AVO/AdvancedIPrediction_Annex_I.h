// Advanced intra coding (Annex I) on the encoder side: the coefficient neighbour stores, the
// choice of the prediction mode, the prediction of the first row / column / DC of each block and
// its reversal after inverse quantisation.
//
// Blocks are 64 int16 coefficients in raster order: element 0 is the DC, 1..7 the first row,
// 8, 16, ..., 56 the first column. A macroblock is six blocks in the order Y0, Y1, Y2, Y3, Cb, Cr.
#pragma once

#include <cstdint>
#include <vector>

#include "Dct.h"

namespace r263avo {

// DC value that marks a neighbour block as unavailable (its AC coefficients are 0). Reconstructed
// DC values are odd, 0 or 2048, so no real block carries it.
constexpr int16_t kAicUnavailableDc = 1024;

// Prediction modes, sent as INTRA_MODE.
enum AicModeValue : int {
    kAicDc = 0,          // DC only
    kAicVertical = 2,    // first row from the block above (alternate-horizontal scan)
    kAicHorizontal = 3,  // first column from the block to the left (alternate-vertical scan)
};

// Reconstructed coefficients of one macroblock (after prediction, before the inverse transform).
struct AicMacroblock {
    int16_t block[6][64];
};

// The neighbour stores: one record per macroblock column holding the last intra macroblock coded
// in that column of the current picture segment, a spare record after the last column that is
// always unavailable, and the record of the left neighbour.
struct AicStores {
    std::vector<AicMacroblock> above;  // mbPerRow + 1 records
    AicMacroblock left{};

    // Sizes the stores for a picture of `mbPerRow` macroblocks per row (at least 1) and resets them.
    void Init(int mbPerRow);
    int Columns() const { return above.empty() ? 0 : static_cast<int>(above.size()) - 1; }
    // The above record of `column`; the unavailable spare for a column outside the picture.
    const AicMacroblock& Above(int column) const;
};

// Sets a record to "unavailable": every DC 1024, every AC 0.
void SetAicUnavailable(AicMacroblock& record);

// A record that is always unavailable.
const AicMacroblock& AicUnavailableRecord();

// Marks every record unavailable. Run at every picture start and at every GOB and slice header,
// so that no prediction crosses such a boundary.
void ResetAicStores(AicStores& stores);

// At the start of each macroblock row: the first macroblock has no left neighbour.
void AicStartRow(AicStores& stores);

// After an intra macroblock: its reconstructed coefficients become the above record of `column`
// and the left neighbour of the next macroblock.
void AicStoreMacroblock(AicStores& stores, int column, const int16_t recon[6][64]);

// After an inter or skipped macroblock: its column and the next macroblock's left neighbour have
// no intra block to predict from.
void AicMarkNotIntra(AicStores& stores, int column);

// Chooses the prediction mode of a macroblock from its six unquantised coefficient blocks and its
// above and left neighbour records (kAicDc, kAicVertical or kAicHorizontal).
int ChooseAicMode(const int16_t coefficients[6][64], const AicMacroblock& above, const AicMacroblock& left);

// The predictor of the DC in mode 0 from the two neighbour DCs.
int AicDcPredictor(int leftDc, int aboveDc);

// Subtracts the prediction of `mode` from a block of unquantised coefficients, in place.
void AicPredict(int16_t block[64], const int16_t left[64], const int16_t above[64], int mode);

// Adds the prediction of `mode` back to a dequantised block, in place, and brings the DC into
// 0..2048 (odd for the values inside that range).
void AicReconstruct(int16_t block[64], const int16_t left[64], const int16_t above[64], int mode);

// The left and above neighbour blocks of block b (0..5) of a macroblock. `current` supplies the
// neighbours inside the macroblock.
const int16_t* AicLeftNeighbour(int b, const int16_t current[6][64], const AicMacroblock& left);
const int16_t* AicAboveNeighbour(int b, const int16_t current[6][64], const AicMacroblock& above);

// Codes one intra macroblock in Annex I form: forward transform of the six pixel blocks,
// mode choice, and per block prediction, quantisation (blocks 0-3 with qp, 4-5 with chromaQp),
// inverse quantisation and reconstruction. `levels` receives the levels to code (raster order,
// scanned with the scan of the returned mode), `recon` the reconstructed coefficients, which go
// through the inverse transform into the picture and, with AicStoreMacroblock, into the stores.
// The neighbours come from stores.Above(column) and stores.left (none in column 0). The stores
// are only read here. Returns the mode.
// `forwardDct` is the transform kernel (the encoder passes the one of its kernel table).
int AicCodeMacroblock(const int16_t pixels[6][64], int qp, int chromaQp, bool modifiedQuant,
                      const AicStores& stores, int column, int16_t levels[6][64], int16_t recon[6][64],
                      ForwardDctFunction forwardDct = ForwardDctBlock);

// The scan (scan position -> raster index) of the Annex I blocks coded in `mode`.
const uint8_t* AicScan(int mode);

}  // namespace r263avo
