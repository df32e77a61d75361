// The decoder's block interpolation is the shared one (R263COM/BlockPrediction), the same the
// encoder predicts with.
#pragma once

#include "R263COM/BlockPrediction.h"

namespace r263iri {

using r263com::BufferPlaces;
using r263com::InterpolateBlock;
using r263com::InterpolateBlockC;
using r263com::InterpolateBlockFunction;
using r263com::MacroblockPlaces;
using r263com::SelectInterpolateBlock;
#if defined(TESSARO_X86)
using r263com::InterpolateBlockSse2;
#endif

}  // namespace r263iri
