// Views of planar 4:2:0 pictures inside the encoder's stores.
#pragma once

#include <cstdint>

namespace r263avo {

// A picture at the coded size: luma width x height (multiples of 16) with stride width, then
// two chroma planes of width/2 x height/2 with stride width/2.
struct PictureView {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int width = 0;
    int height = 0;
};

struct ConstPictureView {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int width = 0;
    int height = 0;

    ConstPictureView() = default;
    ConstPictureView(const PictureView& p) : y(p.y), u(p.u), v(p.v), width(p.width), height(p.height) {}
};

// Views a contiguous planar buffer of width x height x 3/2 bytes.
inline PictureView MakePictureView(uint8_t* data, int width, int height) {
    PictureView p;
    p.y = data;
    p.u = data + width * height;
    p.v = p.u + (width / 2) * (height / 2);
    p.width = width;
    p.height = height;
    return p;
}

inline ConstPictureView MakeConstPictureView(const uint8_t* data, int width, int height) {
    ConstPictureView p;
    p.y = data;
    p.u = data + width * height;
    p.v = p.u + (width / 2) * (height / 2);
    p.width = width;
    p.height = height;
    return p;
}

// The half-pel interpolated luma of a reconstruction: (2W + 60) x (2H + 60) samples, row stride
// 2W + 60; half-pel sample (u, v) at offset (v + 30) * stride + (u + 30), behind a margin of 30
// samples (15 pixels) on every side.
constexpr int kInterpMargin = 30;

inline int InterpStride(int width) {
    return 2 * width + 2 * kInterpMargin;
}
inline int InterpRows(int height) {
    return 2 * height + 2 * kInterpMargin;
}

// Pointer to half-pel sample (u, v) of an interpolated image whose buffer starts at `base`.
inline const uint8_t* InterpAt(const uint8_t* base, int width, int u, int v) {
    return base + static_cast<long>(v + kInterpMargin) * InterpStride(width) + (u + kInterpMargin);
}

}  // namespace r263avo
