// Picture and macroblock types as the bitstream numbers them, one set of names for both codec
// sides.
#pragma once

#include <cstdint>

namespace r263com {

// A variable-length code as the standard prints its binary digits ("0000 011"; spaces are
// ignored): the digits as a number, most significant first, and how many there are.
struct CodeBits {
    uint32_t bits = 0;
    int length = 0;
};

constexpr CodeBits ParseCodeBits(const char* digits) {
    CodeBits c;
    for (const char* p = digits; *p; ++p) {
        if (*p == ' ') continue;
        c.bits = (c.bits << 1) | (*p == '1' ? 1u : 0u);
        ++c.length;
    }
    return c;
}

// Picture types: the MPPTYPE codes of PLUSPTYPE (a plain PTYPE header gives I or P).
enum PictureCodingType : int {
    kPicI = 0,
    kPicP = 1,
    kPicImprovedPB = 2,
    kPicB = 3,
    kPicEI = 4,
    kPicEP = 5,
};

// Macroblock types of the MCBPC tables.
enum MacroblockType : int {
    kMbInter = 0,
    kMbInterQ = 1,
    kMbInter4V = 2,
    kMbIntra = 3,
    kMbIntraQ = 4,
    kMbInter4VQ = 5,
};

}  // namespace r263com
