// The encoder's kernel table: one pointer for every kernel that has SIMD versions, chosen once when
// the encoder opens from the processor's SIMD levels (cpuinfo::SimdFlags(), which
// TESSARO_SIMD_MASK restricts). The picture coders call through the table, so no kernel is
// selected again per picture, macroblock or block.
#pragma once

#include <cstdint>

#include "BlockOperations.h"
#include "Dct.h"
#include "Idct.h"
#include "Interpolation.h"
#include "Qdct.h"
#include "R263COM/BlockPrediction.h"
#include "R263COM/Dequant.h"
#include "Sad.h"

namespace r263avo {

// Limits levels first..63 to -127..127 when `limit` is set, then tells whether any of them is
// nonzero (first 0: the whole block; 1: all but the intra DC).
using LimitLevelsFn = bool (*)(int16_t block[64], int first, bool limit);
// Mean absolute deviation of a 16x16 luma block from its truncated mean (MacroblockActivity).
using ActivityFn = int (*)(const uint8_t* cur, int stride);

struct EncoderKernels {
    SadKernels sad{};
    BlockKernels block{};
    QdctIntraFunction qdctIntra = nullptr;
    QdctInterFunction qdctInter = nullptr;
    QdctInterPairFunction qdctInterPair = nullptr;
    ForwardDctFunction forwardDct = nullptr;
    r263com::DequantKernels dequant{};
    IdctFunction idct = nullptr;
    r263com::InterpolateBlockFunction interpolateBlock = nullptr;  // prediction
    InterpolateRowsFn interpolateRows = nullptr;                   // half-pel images
    LimitLevelsFn limitLevels = nullptr;
    ActivityFn activity = nullptr;
};

// The kernels for the given cpuinfo SIMD flags (0: every plain version).
EncoderKernels SelectEncoderKernels(uint32_t simdFlags);

// The plain version of LimitLevelsFn (first is 0 or 1; other values count as the nearer one).
// The plain activity is MacroblockActivity (MotionEst.h).
bool LimitLevelsC(int16_t block[64], int first, bool limit);

#if defined(TESSARO_X86)
// SIMD versions, bit-exact with the plain ones. Call only when the processor has SSE2.
bool LimitLevelsSse2(int16_t block[64], int first, bool limit);
int MacroblockActivitySse2(const uint8_t* cur, int stride);
#endif

}  // namespace r263avo
