// Exact forward DCT: the Qdct transform with the unscaled constants, and its run-time dispatch.
#include "Dct.h"

#include "CPUInfo.h"
#include "Qdct.h"

namespace r263avo {

void ForwardDctBlockC(int16_t block[64]) {
    QdctTransform(block, QdctConstants[0]);
}

ForwardDctFunction SelectForwardDct(uint32_t simdFlags) {
    ForwardDctFunction f = ForwardDctBlockC;
#if defined(TESSARO_X86)
    if (simdFlags & cpuinfo::kSimdSse2) f = ForwardDctBlockSse2;
    if (simdFlags & cpuinfo::kSimdAvx2) f = ForwardDctBlockAvx2;
#else
    (void)simdFlags;
#endif
    return f;
}

void ForwardDctBlock(int16_t block[64]) {
    SelectForwardDct(cpuinfo::SimdFlags())(block);
}

}  // namespace r263avo
