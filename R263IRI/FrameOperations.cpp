#include "FrameOperations.h"

#include <cstring>

namespace r263iri {

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
