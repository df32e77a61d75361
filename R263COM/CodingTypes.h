// Picture and macroblock types as the bitstream numbers them, one set of names for both codec
// sides.
#pragma once

namespace r263com {

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
