// Predictive motion search: one half-pel vector per 16x16 macroblock and the INTER/INTRA choice.
#pragma once

#include <cstdint>

#include "Sad.h"

namespace r263avo {

// Motion record of a macroblock: vector in half-pel units and in whole pixels. A half-pel x of
// 1000 in a record of the row above marks that row as unavailable for prediction.
struct MbRecord {
    int32_t hx = 0, hy = 0;  // half-pel units
    int32_t wx = 0, wy = 0;  // whole pixels
};
constexpr int32_t kMvUnavailable = 1000;

// One row of the speed preset table.
struct SpeedPreset {
    int16_t acceptThreshold;   // 1: a predictor below this SAD is taken without search
    int16_t stopShift;         // 2: descent continues while Q <= (P >> shift)
    int16_t halfPelThreshold;  // 3: half-pel refinement only above this SAD
    int16_t qdctParam;         // 4: parameter of InitInterQdctTables
    int16_t interRowLimit;     // 5: row early exit of QdctInterBlock
    int16_t interColLimit;     // 6: column early exit of QdctInterBlock
    int16_t subsampledSad;     // 7: 1 = the descent uses the subsampled SAD
};
extern const SpeedPreset SpeedPresets[5];  // Speed 1..5 at index 0..4

// Activity test: mean absolute deviation of the current macroblock's luma (the plain version).
int MacroblockActivity(const uint8_t* cur, int stride);

struct MotionSearchInput {
    const uint8_t* cur = nullptr;  // current luma plane, stride width
    // Start of the reference's InterpolatedRef buffer; may be null when `ref` and the plane
    // kernels of `sad` are given, since the search then reads only those.
    const uint8_t* interp = nullptr;
    int width = 0, height = 0;  // coded size (multiples of 16)
    int searchWindow = 0;       // whole pixels
    const SpeedPreset* preset = nullptr;
    const MbRecord* aboveRow = nullptr;  // records of the row above, (width/16 + 1) entries
    const MbRecord* left = nullptr;      // record of the left neighbour
    SadKernels sad{};                    // kernels to use
    // The reference's luma plane (stride width), whose samples are the even samples of `interp`:
    // with it and the plane kernels in `sad`, the search reads it instead, and interpolates the
    // half-pel refinement's samples from it (Sad16HalfRingFn).
    const uint8_t* ref = nullptr;
    int (*activity)(const uint8_t* cur, int stride) = MacroblockActivity;
};

struct MotionSearchResult {
    MbRecord record;  // the chosen vector
    int type = 0;     // 0 INTER, 3 INTRA
    int sad = 0;      // best cost found
};

// Searches the macroblock at pixel position (x, y), column c.
MotionSearchResult MotionSearch(const MotionSearchInput& in, int x, int y, int c);

}  // namespace r263avo
