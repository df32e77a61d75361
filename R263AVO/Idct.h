// The encoder's inverse DCT is the shared one (R263COM/Idct), the same the decoder runs.
#pragma once

#include "R263COM/Idct.h"

namespace r263avo {

using r263com::IdctBlock;
using r263com::IdctBlockC;
using r263com::IdctFunction;
using r263com::SelectIdct;
#if defined(TESSARO_X86)
using r263com::IdctBlockAvx2;
using r263com::IdctBlockSse2;
#endif

}  // namespace r263avo
