#include "Interpolation.h"

#include <algorithm>
#include <cstring>

#include "CPUInfo.h"
#include "Picture.h"

namespace r263avo {

#ifdef TESSARO_X86
// x86/InterpolationSse2.cpp
void InterpolateRowsSse2(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0, uint8_t* out1);
#endif

// Interpolates one pixel row into the two half-pel rows out0 (even v) and out1 (odd v). `below` is
// the next pixel row, or the same row for the last one: with the last column and the last row
// repeated, the general formula yields exactly the edge rules (out = p at the repeated edge,
// (a + c + 1) >> 1 for the half position beside it, since (2a + 2c + 2) >> 2 == (a + c + 1) >> 1).
void InterpolateRowsC(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0, uint8_t* out1) {
    for (int i = 0; i < width; ++i) {
        const int n = i + 1 < width ? i + 1 : i;
        const int a = row[i], b = row[n], c = below[i], d = below[n];
        out0[2 * i] = static_cast<uint8_t>(a);
        out0[2 * i + 1] = static_cast<uint8_t>((a + b + 1) >> 1);
        out1[2 * i] = static_cast<uint8_t>((a + c + 1) >> 1);
        out1[2 * i + 1] = static_cast<uint8_t>((a + b + c + d + 2) >> 2);
    }
}

namespace {

using RowsFn = void (*)(const uint8_t*, const uint8_t*, int, uint8_t*, uint8_t*);

void InterpolateRange(RowsFn rows, const uint8_t* luma, int width, int height, uint8_t* out, int firstRow,
                      int endRow) {
    const int stride = InterpStride(width);
    uint8_t* origin = out + kInterpMargin * stride + kInterpMargin;
    for (int j = firstRow; j < endRow; ++j) {
        const uint8_t* row = luma + static_cast<long>(j) * width;
        const uint8_t* below = j + 1 < height ? row + width : row;
        uint8_t* o0 = origin + static_cast<long>(2 * j) * stride;
        rows(row, below, width, o0, o0 + stride);
    }
}

RowsFn SelectRows() {
#ifdef TESSARO_X86
    if (cpuinfo::SimdFlags() & cpuinfo::kSimdSse2) return InterpolateRowsSse2;
#endif
    return InterpolateRowsC;
}

void Interpolate(RowsFn rows, const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins) {
    if (width <= 0 || height <= 0) return;
    InterpolateRange(rows, luma, width, height, out, 0, height);
    if (fillMargins) FillInterpMargins(out, width, height);
}

}  // namespace

void FillInterpMargins(uint8_t* out, int width, int height) {
    if (width <= 0 || height <= 0) return;
    const int stride = InterpStride(width);
    const int rows = 2 * height;
    for (int v = 0; v < rows; ++v) {
        uint8_t* line = out + static_cast<long>(v + kInterpMargin) * stride;
        std::memset(line, line[kInterpMargin], kInterpMargin);
        std::memset(line + kInterpMargin + 2 * width, line[kInterpMargin + 2 * width - 1], kInterpMargin);
    }
    const uint8_t* first = out + static_cast<long>(kInterpMargin) * stride;
    const uint8_t* last = out + static_cast<long>(kInterpMargin + rows - 1) * stride;
    for (int k = 0; k < kInterpMargin; ++k) {
        std::memcpy(out + static_cast<long>(k) * stride, first, stride);
        std::memcpy(out + static_cast<long>(kInterpMargin + rows + k) * stride, last, stride);
    }
}

void PadChromaPlane(const uint8_t* plane, int width, int height, uint8_t* out) {
    if (width <= 0 || height <= 0) return;
    const int stride = width + 2 * kChromaMargin;
    for (int j = 0; j < height; ++j) {
        const uint8_t* src = plane + static_cast<long>(j) * width;
        uint8_t* line = out + static_cast<long>(j + kChromaMargin) * stride;
        std::memset(line, src[0], kChromaMargin);
        std::memcpy(line + kChromaMargin, src, width);
        std::memset(line + kChromaMargin + width, src[width - 1], kChromaMargin);
    }
    const uint8_t* first = out + static_cast<long>(kChromaMargin) * stride;
    const uint8_t* last = out + static_cast<long>(kChromaMargin + height - 1) * stride;
    for (int k = 0; k < kChromaMargin; ++k) {
        std::memcpy(out + static_cast<long>(k) * stride, first, stride);
        std::memcpy(out + static_cast<long>(kChromaMargin + height + k) * stride, last, stride);
    }
}

void InterpolatePictureC(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins) {
    Interpolate(InterpolateRowsC, luma, width, height, out, fillMargins);
}

void InterpolatePicture(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins,
                        InterpolateRowsFn rows) {
    Interpolate(rows, luma, width, height, out, fillMargins);
}

void InterpolatePicture(const uint8_t* luma, int width, int height, uint8_t* out, bool fillMargins) {
    Interpolate(SelectRows(), luma, width, height, out, fillMargins);
}

}  // namespace r263avo
