// Pieces shared by the plain and the SSE2 colour converters.
#pragma once

#include <algorithm>
#include <cstdint>

namespace clrconv {

// Byte positions inside a packed 4:2:2 pixel pair.
struct PackedLayout {
    int luma;  // offset of Y0 (Y1 is luma + 2)
    int cb;
    int cr;
};
constexpr PackedLayout kUyvy{1, 0, 2};
constexpr PackedLayout kYuy2{0, 1, 3};

// The integer colour transform of one pixel; every product is shifted on its own.
inline void YuvToBgr(int y, int u, int v, uint8_t* bgr) {
    const int yy = ((74 * y) >> 6) - 18;
    const int r = ((102 * v) >> 6) - 204;
    const int g = (((25 * u) >> 6) - 50) + (((52 * v) >> 6) - 104);
    const int b = ((129 * u) >> 6) - 258;
    bgr[0] = static_cast<uint8_t>(std::clamp(yy + b, 0, 255));
    bgr[1] = static_cast<uint8_t>(std::clamp(yy - g, 0, 255));
    bgr[2] = static_cast<uint8_t>(std::clamp(yy + r, 0, 255));
}

// Chroma geometry of a planar picture: planes of (width/2) x (height/2) samples at lumaSize and
// lumaSize + lumaSize/4. For odd sizes the last luma column/row reuses the last chroma sample.
struct ChromaGeometry {
    int width, height;
    int cbOffset, crOffset;
    ChromaGeometry(int w, int h, int lumaSize)
        : width(w / 2), height(h / 2), cbOffset(lumaSize), crOffset(lumaSize + lumaSize / 4) {}
    int Column(int x) const { return std::min(x >> 1, std::max(width - 1, 0)); }
    int Row(int y) const { return std::min(y >> 1, std::max(height - 1, 0)); }
};

#if defined(TESSARO_X86)
namespace sse2 {
// Vector bodies; each handles whole 16-pixel groups and returns how many pixels of a row it did.
int Unpack422Row(const uint8_t* row, uint8_t* luma, int width, PackedLayout layout);
int Unpack422Chroma(const uint8_t* row, uint8_t* cb, uint8_t* cr, int pairs, PackedLayout layout);
int I420ToBgrRow(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr, int width);
}  // namespace sse2
#endif

}  // namespace clrconv
