// Advanced intra coding (Annex I), decoder side.
#include "AdvancedIPrediction_Annex_I.h"

#include <algorithm>
#include <cstring>

#include "GetFunctions.h"
#include "VlcTable.h"

namespace r263iri {

// H.263 Figure I.2 a): alternate-horizontal scan.
const uint8_t kAltHorizontalScan[64] = {0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14,
                                        13, 12, 19, 18, 24, 25, 32, 33, 26, 27, 20, 21, 22, 23, 28, 29,
                                        30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37, 38, 39, 44, 45,
                                        46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};

// H.263 Figure I.2 b): alternate-vertical scan.
const uint8_t kAltVerticalScan[64] = {0,  8,  16, 24, 1, 9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                      41, 33, 26, 18, 3, 11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                      51, 59, 20, 28, 5, 13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                      53, 61, 22, 30, 7, 15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

const uint8_t* AicScan(int intraMode) {
    if (intraMode == kAicModeVertical) return kAltHorizontalScan;
    if (intraMode == kAicModeHorizontal) return kAltVerticalScan;
    return kZigzag;
}

namespace {

// H.263 Table I.2: INTRA TCOEF with advanced intra coding (LAST, RUN, |LEVEL|), without the sign
// bit. The code words are those of Table 16, standing for other events; ESCAPE is the same.
constexpr CodeDef kAicTcoefCodes[] = {
    {"10", TcoefValue(0, 0, 1)},
    {"110", TcoefValue(0, 0, 2)},
    {"1110", TcoefValue(0, 0, 3)},
    {"01100", TcoefValue(0, 0, 4)},
    {"01101", TcoefValue(0, 0, 5)},
    {"010000", TcoefValue(0, 0, 6)},
    {"010001", TcoefValue(0, 0, 7)},
    {"010010", TcoefValue(0, 0, 8)},
    {"0010110", TcoefValue(0, 0, 9)},
    {"00011011", TcoefValue(0, 0, 10)},
    {"000100000", TcoefValue(0, 0, 11)},
    {"000100001", TcoefValue(0, 0, 12)},
    {"000011010", TcoefValue(0, 0, 13)},
    {"000011011", TcoefValue(0, 0, 14)},
    {"000011100", TcoefValue(0, 0, 15)},
    {"000011101", TcoefValue(0, 0, 16)},
    {"000011110", TcoefValue(0, 0, 17)},
    {"000011111", TcoefValue(0, 0, 18)},
    {"00000100011", TcoefValue(0, 0, 19)},
    {"00000100010", TcoefValue(0, 0, 20)},
    {"000001010111", TcoefValue(0, 0, 21)},
    {"000001010110", TcoefValue(0, 0, 22)},
    {"000001010101", TcoefValue(0, 0, 23)},
    {"000001010100", TcoefValue(0, 0, 24)},
    {"000001010011", TcoefValue(0, 0, 25)},
    {"1111", TcoefValue(0, 1, 1)},
    {"010100", TcoefValue(0, 1, 2)},
    {"0010100", TcoefValue(0, 1, 3)},
    {"00011110", TcoefValue(0, 1, 4)},
    {"0000001111", TcoefValue(0, 1, 5)},
    {"00000100001", TcoefValue(0, 1, 6)},
    {"000001010000", TcoefValue(0, 1, 7)},
    {"01011", TcoefValue(0, 2, 1)},
    {"0010101", TcoefValue(0, 2, 2)},
    {"0000001110", TcoefValue(0, 2, 3)},
    {"0000001001", TcoefValue(0, 2, 4)},
    {"010101", TcoefValue(0, 3, 1)},
    {"00011101", TcoefValue(0, 3, 2)},
    {"0000001101", TcoefValue(0, 3, 3)},
    {"000001010001", TcoefValue(0, 3, 4)},
    {"010011", TcoefValue(0, 4, 1)},
    {"000100011", TcoefValue(0, 4, 2)},
    {"00000000111", TcoefValue(0, 4, 3)},
    {"0010111", TcoefValue(0, 5, 1)},
    {"000100010", TcoefValue(0, 5, 2)},
    {"000001010010", TcoefValue(0, 5, 3)},
    {"00011100", TcoefValue(0, 6, 1)},
    {"0000001100", TcoefValue(0, 6, 2)},
    {"00011111", TcoefValue(0, 7, 1)},
    {"0000001011", TcoefValue(0, 7, 2)},
    {"000100101", TcoefValue(0, 8, 1)},
    {"0000001010", TcoefValue(0, 8, 2)},
    {"000100100", TcoefValue(0, 9, 1)},
    {"00000000110", TcoefValue(0, 9, 2)},
    {"0000100001", TcoefValue(0, 10, 1)},
    {"0000100000", TcoefValue(0, 11, 1)},
    {"0000001000", TcoefValue(0, 12, 1)},
    {"00000100000", TcoefValue(0, 13, 1)},
    {"0111", TcoefValue(1, 0, 1)},
    {"001100", TcoefValue(1, 0, 2)},
    {"0010000", TcoefValue(1, 0, 3)},
    {"00010011", TcoefValue(1, 0, 4)},
    {"000010001", TcoefValue(1, 0, 5)},
    {"000010010", TcoefValue(1, 0, 6)},
    {"0000000100", TcoefValue(1, 0, 7)},
    {"00000100111", TcoefValue(1, 0, 8)},
    {"00000100110", TcoefValue(1, 0, 9)},
    {"000001011111", TcoefValue(1, 0, 10)},
    {"001111", TcoefValue(1, 1, 1)},
    {"000010011", TcoefValue(1, 1, 2)},
    {"0000000101", TcoefValue(1, 1, 3)},
    {"00000100101", TcoefValue(1, 1, 4)},
    {"001110", TcoefValue(1, 2, 1)},
    {"000010100", TcoefValue(1, 2, 2)},
    {"00000100100", TcoefValue(1, 2, 3)},
    {"001101", TcoefValue(1, 3, 1)},
    {"0000000110", TcoefValue(1, 3, 2)},
    {"000001011110", TcoefValue(1, 3, 3)},
    {"0010001", TcoefValue(1, 4, 1)},
    {"0000000111", TcoefValue(1, 4, 2)},
    {"0010011", TcoefValue(1, 5, 1)},
    {"000001011101", TcoefValue(1, 5, 2)},
    {"0010010", TcoefValue(1, 6, 1)},
    {"000001011100", TcoefValue(1, 6, 2)},
    {"00010100", TcoefValue(1, 7, 1)},
    {"000001011011", TcoefValue(1, 7, 2)},
    {"00010101", TcoefValue(1, 8, 1)},
    {"00011010", TcoefValue(1, 9, 1)},
    {"00011001", TcoefValue(1, 10, 1)},
    {"00011000", TcoefValue(1, 11, 1)},
    {"00010111", TcoefValue(1, 12, 1)},
    {"00010110", TcoefValue(1, 13, 1)},
    {"000011001", TcoefValue(1, 14, 1)},
    {"000010101", TcoefValue(1, 15, 1)},
    {"000010110", TcoefValue(1, 16, 1)},
    {"000011000", TcoefValue(1, 17, 1)},
    {"000010111", TcoefValue(1, 18, 1)},
    {"00000000100", TcoefValue(1, 19, 1)},
    {"00000000101", TcoefValue(1, 20, 1)},
    {"000001011000", TcoefValue(1, 21, 1)},
    {"000001011001", TcoefValue(1, 22, 1)},
    {"000001011010", TcoefValue(1, 23, 1)},
    {"0000011", kTcoefEscape},
};

constexpr auto kAicTcoefLut = BuildSplitVlcLut<7, 3, 12>(kAicTcoefCodes);

void FillUnavailable(int16_t* record) {
    std::memset(record, 0, kAicRecordSize * sizeof(int16_t));
    for (int b = 0; b < 6; ++b) record[64 * b] = kAicUnavailableDc;
}

}  // namespace

bool GetAicTcoef(BitReader& r, bool modifiedQuant, TcoefEvent* event) {
    const VlcEntry e = kAicTcoefLut[r.ShowBits(12)];
    if (e.length == 0) return false;
    // ESCAPE and its fields are those of the standard table.
    if (e.value == kTcoefEscape) return GetTcoef(r, modifiedQuant, event);
    r.SkipBits(e.length);
    ReadTableEvent(r, e.value, event);
    return true;
}

void AicStore::Init(int mbPerRow) {
    columns = std::max(mbPerRow, 1);
    records.assign(static_cast<size_t>(columns + 1) * kAicRecordSize, 0);
    ResetAicStore(*this);
}

void ResetAicStore(AicStore& store) {
    for (int i = 0; i <= store.columns; ++i) FillUnavailable(store.Record(i));
    store.left = store.Unavailable();
}

void AicStartRow(AicStore& store) {
    store.left = store.Unavailable();
}

void AicPredictBlock(int16_t block[64], const int16_t left[64], const int16_t above[64], int intraMode) {
    int v;
    if (intraMode == kAicModeVertical) {
        v = block[0] + above[0];
        for (int k = 1; k < 8; ++k) block[k] = static_cast<int16_t>(block[k] + above[k]);
    } else if (intraMode == kAicModeHorizontal) {
        v = block[0] + left[0];
        for (int k = 1; k < 8; ++k) block[8 * k] = static_cast<int16_t>(block[8 * k] + left[8 * k]);
    } else {
        int predictor;
        if (left[0] == kAicUnavailableDc) {
            predictor = above[0];  // 1024 as well when both are unavailable
        } else if (above[0] == kAicUnavailableDc) {
            predictor = left[0];
        } else {
            predictor = (left[0] + above[0]) / 2;
        }
        v = block[0] + predictor;
    }
    const bool directional = intraMode == kAicModeVertical || intraMode == kAicModeHorizontal;
    int dc;
    if (v == -1 && directional) {
        dc = 1;
    } else if (v < 0) {
        dc = 0;
    } else if (v >= 2048) {
        dc = 2048;
    } else {
        dc = v | 1;
    }
    block[0] = static_cast<int16_t>(dc);
}

void AicPredictMacroblock(AicStore& store, int column, int intraMode, int16_t coeffs[kAicRecordSize]) {
    if (column < 0 || column >= store.columns) return;
    // A macroblock in column 0 never has a left neighbour, whatever the caller did at the row start.
    const int16_t* left = store.Record(column == 0 ? store.Unavailable() : store.left);
    const int16_t* above = store.Record(column);
    int16_t* y0 = coeffs;
    int16_t* y1 = coeffs + 64;
    int16_t* y2 = coeffs + 128;
    int16_t* y3 = coeffs + 192;
    AicPredictBlock(y0, left + 64, above + 128, intraMode);
    AicPredictBlock(y1, y0, above + 192, intraMode);
    AicPredictBlock(y2, left + 192, y0, intraMode);
    AicPredictBlock(y3, y2, y1, intraMode);
    AicPredictBlock(coeffs + 256, left + 256, above + 256, intraMode);
    AicPredictBlock(coeffs + 320, left + 320, above + 320, intraMode);
    std::memcpy(store.Record(column), coeffs, kAicRecordSize * sizeof(int16_t));
    store.left = column;
}

void AicMarkNotIntra(AicStore& store, int column) {
    if (column < 0 || column >= store.columns) {
        store.left = store.Unavailable();
        return;
    }
    FillUnavailable(store.Record(column));
    store.left = column;
}

}  // namespace r263iri
