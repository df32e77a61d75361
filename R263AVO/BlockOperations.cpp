#include "BlockOperations.h"

#include <cstring>

#include "CPUInfo.h"
#include "MBlockOperations.h"
#include "R263COM/BlockPrediction.h"

namespace r263avo {

#ifdef TESSARO_X86
// x86/BlockOperationsSse2.cpp
void SubtractBlock8Sse2(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                        int16_t block[64]);
void AddClipBlock8Sse2(const uint8_t* pred, int predStride, const int16_t block[64], uint8_t* dst,
                       int dstStride);
void SubtractBlock16Sse2(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                         int16_t blocks[4][64]);
#endif

void LoadBlock8(const uint8_t* src, int stride, int16_t block[64]) {
    for (int j = 0; j < 8; ++j, src += stride, block += 8)
        for (int i = 0; i < 8; ++i) block[i] = src[i];
}

void SubtractBlock8(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                    int16_t block[64]) {
    for (int j = 0; j < 8; ++j, cur += curStride, pred += predStride, block += 8)
        for (int i = 0; i < 8; ++i) block[i] = static_cast<int16_t>(cur[i] - pred[i]);
}

void SubtractBlock16(const uint8_t* cur, int curStride, const uint8_t* pred, int predStride,
                     int16_t blocks[4][64]) {
    for (int b = 0; b < 4; ++b) {
        const int down = (b >> 1) * 8, right = (b & 1) * 8;
        SubtractBlock8(cur + down * curStride + right, curStride, pred + down * predStride + right, predStride,
                       blocks[b]);
    }
}

void WriteClippedBlock8(const int16_t block[64], uint8_t* dst, int dstStride) {
    for (int j = 0; j < 8; ++j, block += 8, dst += dstStride)
        for (int i = 0; i < 8; ++i) dst[i] = PixelClip(block[i]);
}

void AddClipBlock8(const uint8_t* pred, int predStride, const int16_t block[64], uint8_t* dst,
                   int dstStride) {
    for (int j = 0; j < 8; ++j, pred += predStride, block += 8, dst += dstStride)
        for (int i = 0; i < 8; ++i) dst[i] = PixelClip(pred[i] + block[i]);
}

void CopyBlock8(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride) {
    for (int j = 0; j < 8; ++j, src += srcStride, dst += dstStride) std::memcpy(dst, src, 8);
}

const BlockKernels& BlockKernelsC() {
    static const BlockKernels kernels{SubtractBlock8, AddClipBlock8, SubtractBlock16};
    return kernels;
}

BlockKernels SelectBlockKernels(uint32_t simdFlags) {
    BlockKernels k = BlockKernelsC();
#ifdef TESSARO_X86
    if (simdFlags & cpuinfo::kSimdSse2) k = {SubtractBlock8Sse2, AddClipBlock8Sse2, SubtractBlock16Sse2};
#else
    (void)simdFlags;
#endif
    return k;
}

BlockKernels SelectBlockKernels() {
    return SelectBlockKernels(cpuinfo::SimdFlags());
}

void PredictChromaBlock8(const uint8_t* ref, int refStride, bool halfX, bool halfY, uint8_t* pred,
                         int predStride) {
    // The encoder's pictures use rounding type 0.
    r263com::InterpolateBlockC(ref, refStride, halfX ? 1 : 0, halfY ? 1 : 0, 0, 8, pred, predStride);
}

}  // namespace r263avo
