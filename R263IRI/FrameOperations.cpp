#include "FrameOperations.h"

#include <cstring>

namespace r263iri {

void PadPlane(const uint8_t* src, int width, int height, uint8_t* dst) {
    const int stride = width + 2 * kBorder;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dst + (y + kBorder) * stride;
        const uint8_t* in = src + y * width;
        std::memset(row, in[0], kBorder);
        std::memcpy(row + kBorder, in, static_cast<size_t>(width));
        std::memset(row + kBorder + width, in[width - 1], kBorder);
    }
    const uint8_t* top = dst + kBorder * stride;
    const uint8_t* bottom = dst + (kBorder + height - 1) * stride;
    for (int y = 0; y < kBorder; ++y) {
        std::memcpy(dst + y * stride, top, static_cast<size_t>(stride));
        std::memcpy(dst + (kBorder + height + y) * stride, bottom, static_cast<size_t>(stride));
    }
}

void PadPicture(const Decoder& d, const uint8_t* picture, uint8_t* padded) {
    const int cw = d.chromaWidth, ch = d.chromaHeight;
    const int lumaPadded = d.PaddedWidth() * d.PaddedHeight();
    const int chromaPadded = d.PaddedChromaWidth() * d.PaddedChromaHeight();
    PadPlane(picture, d.codedWidth, d.codedHeight, padded);
    PadPlane(picture + d.LumaSize(), cw, ch, padded + lumaPadded);
    PadPlane(picture + d.LumaSize() + cw * ch, cw, ch, padded + lumaPadded + chromaPadded);
}

const uint8_t* CropPicture(Decoder& d, const uint8_t* picture) {
    uint8_t* out = d.cropStore.data();
    const int dw = d.displayWidth, dh = d.displayHeight;
    for (int y = 0; y < dh; ++y)
        std::memcpy(out + y * dw, picture + y * d.codedWidth, static_cast<size_t>(dw));
    out += dw * dh;
    const int cdw = dw / 2, cdh = dh / 2, cw = d.chromaWidth, ch = d.chromaHeight;
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* in = picture + d.LumaSize() + plane * cw * ch;
        for (int y = 0; y < cdh; ++y) std::memcpy(out + y * cdw, in + y * cw, static_cast<size_t>(cdw));
        out += cdw * cdh;
    }
    return d.cropStore.data();
}

const uint8_t* OutputPicture(Decoder& d, const uint8_t* picture) {
    if (!picture) return nullptr;
    if (d.displayWidth == d.codedWidth && d.displayHeight == d.codedHeight) return picture;
    return CropPicture(d, picture);
}

}  // namespace r263iri
