// Advanced intra coding (Annex I), decoder side.
#include "AdvancedIPrediction_Annex_I.h"

#include <algorithm>
#include <cstring>

#include "GetFunctions.h"

namespace r263iri {

// H.263 Figure I.2 a): alternate-horizontal scan.
const uint8_t kAltHorizontalScan[64] = {0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14,
                                        13, 12, 19, 18, 24, 25, 32, 33, 26, 27, 20, 21, 22, 23, 28, 29,
                                        30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37, 38, 39, 44, 45,
                                        46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};

// H.263 Figure I.2 b): alternate-vertical scan.
const uint8_t kAltVerticalScan[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                      41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                      51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                      53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

const uint8_t* AicScan(int intraMode) {
    if (intraMode == kAicModeVertical) return kAltHorizontalScan;
    if (intraMode == kAicModeHorizontal) return kAltVerticalScan;
    return kZigzag;
}

namespace {

void FillUnavailable(int16_t* record) {
    std::memset(record, 0, kAicRecordSize * sizeof(int16_t));
    for (int b = 0; b < 6; ++b) record[64 * b] = kAicUnavailableDc;
}

}  // namespace

void AicStore::Init(int mbPerRow) {
    columns = std::max(mbPerRow, 1);
    records.assign(static_cast<size_t>(columns + 1) * kAicRecordSize, 0);
    ResetAicStore(*this);
}

void ResetAicStore(AicStore& store) {
    for (int i = 0; i <= store.columns; ++i) FillUnavailable(store.Record(i));
    store.left = store.Unavailable();
}

void AicStartRow(AicStore& store) { store.left = store.Unavailable(); }

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
