// Half-sample interpolation of predicted blocks and its run-time dispatch.
#include "BlockPrediction.h"

#include <cstring>

#include "CPUInfo.h"

namespace r263com {

void InterpolateBlockC(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                       int dstStride) {
    for (int y = 0; y < size; ++y, src += stride, dst += dstStride) {
        if (!hx && !hy) {
            std::memcpy(dst, src, static_cast<size_t>(size));
        } else if (hx && !hy) {
            for (int x = 0; x < size; ++x)
                dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + 1 - rounding) >> 1);
        } else if (!hx) {
            for (int x = 0; x < size; ++x)
                dst[x] = static_cast<uint8_t>((src[x] + src[x + stride] + 1 - rounding) >> 1);
        } else {
            for (int x = 0; x < size; ++x) {
                dst[x] = static_cast<uint8_t>(
                    (src[x] + src[x + 1] + src[x + stride] + src[x + stride + 1] + 2 - rounding) >> 2);
            }
        }
    }
}

InterpolateBlockFunction SelectInterpolateBlock(uint32_t simdFlags) {
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) return InterpolateBlockSse2;
#else
    (void)simdFlags;
#endif
    return InterpolateBlockC;
}

void AddClipBlock8C(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                    int dstStride) {
    for (int y = 0; y < 8; ++y, pred += predStride, residual += 8, dst += dstStride) {
        for (int x = 0; x < 8; ++x) {
            const int v = pred[x] + residual[x];
            dst[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
}

AddClipBlockFunction SelectAddClipBlock(uint32_t simdFlags) {
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) return AddClipBlock8Sse2;
#else
    (void)simdFlags;
#endif
    return AddClipBlock8C;
}

void InterpolateBlock(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                      int dstStride) {
    SelectInterpolateBlock(cpuinfo::SimdFlags())(src, stride, hx, hy, rounding, size, dst, dstStride);
}

}  // namespace r263com
