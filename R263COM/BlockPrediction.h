// The half-sample interpolation of one predicted block (motion compensation), shared by the
// encoder and the decoder, with its SIMD versions chosen at run time.
#pragma once

#include <cstdint>

namespace r263com {

// Predicts a size x size block (size 8 or 16) from `src` (the sample at the block's integer
// position, row stride `stride`; one more column and row are read when a half flag is set).
// Half flags hx, hy; rounding type r: no flag a; one flag (a + b + 1 - r) >> 1; both
// (a + b + c + d + 2 - r) >> 2.
void InterpolateBlock(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                      int dstStride);

// The plain reference version.
void InterpolateBlockC(const uint8_t* src, int stride, int hx, int hy, int rounding, int size, uint8_t* dst,
                       int dstStride);

using InterpolateBlockFunction = void (*)(const uint8_t* src, int stride, int hx, int hy, int rounding,
                                          int size, uint8_t* dst, int dstStride);

// The version InterpolateBlock uses for the given cpuinfo SIMD flags.
InterpolateBlockFunction SelectInterpolateBlock(uint32_t simdFlags);

// dst = clip(pred + residual) to 0..255 for an 8x8 block (the residual is not limited first): the
// reconstruction of a coded inter block.
void AddClipBlock8C(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                    int dstStride);

using AddClipBlockFunction = void (*)(const uint8_t* pred, int predStride, const int16_t residual[64],
                                      uint8_t* dst, int dstStride);

// The version for the given cpuinfo SIMD flags.
AddClipBlockFunction SelectAddClipBlock(uint32_t simdFlags);

// Where a macroblock's prediction is formed: a buffer of kMacroblockBufferBytes (16x16 luma at
// stride 16, then the 8x8 Cb and Cr blocks at stride 8), or the macroblock's own place in a
// picture, where its reconstruction then grows from the prediction in place: no copy for blocks
// without coefficients, and the residual of the others added where the prediction stands.
struct MacroblockPlaces {
    uint8_t* y;
    int yStride;
    uint8_t* u;
    uint8_t* v;
    int cStride;
    bool inPicture;

    // Block b (0..3 the luma quadrants in raster order, 4 Cb, 5 Cr) and its stride.
    uint8_t* Block(int b) const { return b < 4 ? y + (b >> 1) * 8 * yStride + (b & 1) * 8 : (b == 4 ? u : v); }
    int Stride(int b) const { return b < 4 ? yStride : cStride; }
};

constexpr int kMacroblockBufferBytes = 384;
constexpr int kMacroblockBufferCb = 256;  // offsets of the chroma blocks in the buffer
constexpr int kMacroblockBufferCr = 320;

inline MacroblockPlaces BufferPlaces(uint8_t* buffer) {
    return {buffer, 16, buffer + kMacroblockBufferCb, buffer + kMacroblockBufferCr, 8, false};
}

// The macroblock at luma sample (x, y) of a 4:2:0 picture with planes yPlane, uPlane, vPlane and
// luma width `width`.
inline MacroblockPlaces PicturePlaces(uint8_t* yPlane, uint8_t* uPlane, uint8_t* vPlane, int width, int x,
                                      int y) {
    const int cw = width / 2;
    const long chroma = static_cast<long>(y / 2) * cw + x / 2;
    return {yPlane + static_cast<long>(y) * width + x, width, uPlane + chroma, vPlane + chroma, cw, true};
}

#if defined(TESSARO_X86)
// Bit-exact with InterpolateBlockC and AddClipBlock8C. Call only when the processor has SSE2.
void InterpolateBlockSse2(const uint8_t* src, int stride, int hx, int hy, int rounding, int size,
                          uint8_t* dst, int dstStride);
void AddClipBlock8Sse2(const uint8_t* pred, int predStride, const int16_t residual[64], uint8_t* dst,
                       int dstStride);
#endif

}  // namespace r263com
