#include "ClrConv.h"

#include <cstring>

#include "CPUInfo.h"
#include "ClrConvInternal.h"

namespace clrconv {
namespace {

// The vector paths stand in for the MMX paths: taken when the caller's options announce MMX and
// the processor (within the SIMD mask) has SSE2.
bool UseVector(uint32_t options) {
#if defined(TESSARO_X86)
    return (options & cpuinfo::kCpuMmx) != 0 && (cpuinfo::SimdFlags() & cpuinfo::kSimdSse2) != 0;
#else
    (void)options;
    return false;
#endif
}

void Unpack422(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
               PackedLayout layout, bool vector) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    const ChromaGeometry chroma(width, height, lumaSize);
    const size_t sourceStride = static_cast<size_t>(width) * 2;
    // Every pixel's luma byte sits at 2x + layout.luma of its row (Y1 two bytes after Y0).
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = source + sourceStride * y;
        uint8_t* luma = destination + static_cast<size_t>(width) * y;
        int x = 0;
#if defined(TESSARO_X86)
        if (vector) x = sse2::Unpack422Row(row, luma, width, layout);
#endif
        for (; x < width; ++x) luma[x] = row[2 * x + layout.luma];
    }
    // Chroma of the even row of each row pair; the odd row's chroma is dropped.
    for (int k = 0; k < chroma.height; ++k) {
        const uint8_t* row = source + sourceStride * (2 * k);
        uint8_t* cb = destination + chroma.cbOffset + static_cast<size_t>(chroma.width) * k;
        uint8_t* cr = destination + chroma.crOffset + static_cast<size_t>(chroma.width) * k;
        int p = 0;
#if defined(TESSARO_X86)
        if (vector) p = sse2::Unpack422Chroma(row, cb, cr, chroma.width, layout);
#endif
        for (; p < chroma.width; ++p) {
            cb[p] = row[4 * p + layout.cb];
            cr[p] = row[4 * p + layout.cr];
        }
    }
}

}  // namespace

void ConvertUyvyToI420(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                       uint32_t options) {
    Unpack422(source, destination, width, height, lumaSize, kUyvy, UseVector(options));
}

void ConvertYuy2ToI420(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                       uint32_t options) {
    Unpack422(source, destination, width, height, lumaSize, kYuy2, UseVector(options));
}

void ConvertI420ToRgb24(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                        uint32_t options) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    const bool vector = UseVector(options);
    const ChromaGeometry chroma(width, height, lumaSize);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t* luma = source + static_cast<size_t>(width) * y;
        const size_t chromaRow = static_cast<size_t>(chroma.width) * chroma.Row(y);
        const uint8_t* cb = source + chroma.cbOffset + chromaRow;
        const uint8_t* cr = source + chroma.crOffset + chromaRow;
        uint8_t* bgr = destination + rowBytes * (height - 1 - y);
        int x = 0;
#if defined(TESSARO_X86)
        // The vector body reads two luma samples per chroma sample, so it needs an even width.
        if (vector && (width & 1) == 0) x = sse2::I420ToBgrRow(luma, cb, cr, bgr, width);
#else
        (void)vector;
#endif
        for (; x < width; ++x) {
            const int c = chroma.Column(x);
            YuvToBgr(luma[x], cb[c], cr[c], bgr + 3 * x);
        }
    }
}

}  // namespace clrconv
