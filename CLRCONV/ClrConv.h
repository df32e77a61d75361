// Pixel-format conversion between capture/display formats and the planar 4:2:0 layout.
//
// All converters take (source, destination, width, height, lumaSize, options). `options` is the
// word returned by cpuinfo::DetectCpu(): when its bit 0 (kCpuMmx) is set and the processor has
// SSE2, the vector path is used; it produces exactly the same bytes as the plain path.
// Include guard rather than #pragma once: the build copies this header to the public include
// folder, and both copies may be reached in one translation unit.
#ifndef TESSARO_CLRCONV_H
#define TESSARO_CLRCONV_H

#include <cstdint>

namespace clrconv {

// Packed 4:2:2 UYVY (bytes Cb Y0 Cr Y1 per pixel pair, 2W bytes per row) to planar 4:2:0.
// Luma is copied; the chroma of every even row is kept and that of odd rows dropped.
void ConvertUyvyToI420(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                       uint32_t options);

// Packed 4:2:2 YUY2 (bytes Y0 Cb Y1 Cr per pixel pair) to planar 4:2:0, same rules as above.
void ConvertYuy2ToI420(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                       uint32_t options);

// Planar 4:2:0 to a bottom-up BGR bitmap of 3 x width bytes per row.
void ConvertI420ToRgb24(const uint8_t* source, uint8_t* destination, int width, int height, int lumaSize,
                        uint32_t options);

}  // namespace clrconv

#endif  // TESSARO_CLRCONV_H
