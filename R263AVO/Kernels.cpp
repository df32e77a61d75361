// The encoder's kernel table.
#include "Kernels.h"

#include "CPUInfo.h"
#include "Interpolation.h"
#include "MotionEst.h"

namespace r263avo {

#ifdef TESSARO_X86
// x86/InterpolationSse2.cpp
void InterpolateRowsSse2(const uint8_t* row, const uint8_t* below, int width, uint8_t* out0, uint8_t* out1);
#endif

bool LimitLevelsC(int16_t block[64], int first, bool limit) {
    first = first <= 0 ? 0 : 1;
    bool any = false;
    for (int i = first; i < 64; ++i) {
        int v = block[i];
        if (limit) {
            v = v > 127 ? 127 : (v < -127 ? -127 : v);
            block[i] = static_cast<int16_t>(v);
        }
        any |= v != 0;
    }
    return any;
}

EncoderKernels SelectEncoderKernels(uint32_t simdFlags) {
    EncoderKernels k;
    k.sad = SelectSadKernels(simdFlags);
    k.block = SelectBlockKernels(simdFlags);
    k.qdctIntra = SelectQdctIntra(simdFlags);
    k.qdctInter = SelectQdctInter(simdFlags);
    k.qdctInterPair = SelectQdctInterPair(simdFlags);
    k.forwardDct = SelectForwardDct(simdFlags);
    k.dequant = r263com::SelectDequantKernels(simdFlags);
    k.idct = SelectIdct(simdFlags);
    k.interpolateBlock = r263com::SelectInterpolateBlock(simdFlags);
    k.interpolateRows = InterpolateRowsC;
    k.limitLevels = LimitLevelsC;
    k.activity = MacroblockActivity;
#ifdef TESSARO_X86
    if (simdFlags & cpuinfo::kSimdSse2) {
        k.interpolateRows = InterpolateRowsSse2;
        k.limitLevels = LimitLevelsSse2;
        k.activity = MacroblockActivitySse2;
    }
#endif
    return k;
}

}  // namespace r263avo
