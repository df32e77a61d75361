// Picture sizes of the standard source formats, the one table both codec sides read.
#pragma once

namespace r263com {

// Source formats 1..5: sub-QCIF, QCIF, CIF, 4CIF, 16CIF (entry 0 unused).
inline constexpr int kFormatWidth[6] = {0, 128, 176, 352, 704, 1408};
inline constexpr int kFormatHeight[6] = {0, 96, 144, 288, 576, 1152};
// Macroblock rows per GOB of each format.
inline constexpr int kFormatGobRows[6] = {0, 1, 1, 1, 2, 4};

// Width and height of source format 1..5; false (outputs untouched) for any other value.
inline bool StandardFormatSize(int format, int* width, int* height) {
    if (format < 1 || format > 5) return false;
    *width = kFormatWidth[format];
    *height = kFormatHeight[format];
    return true;
}

}  // namespace r263com
