// The encoder's inverse quantisation is the shared one (R263COM/Dequant), the same the decoder
// runs.
#pragma once

#include "R263COM/Dequant.h"

namespace r263avo {

using r263com::DequantizeInterBlock;
using r263com::DequantizeIntraBlock;
using r263com::DequantizeIntraCopy;

}  // namespace r263avo
