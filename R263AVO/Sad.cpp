#include "Sad.h"

#include <cstdlib>

#include "CPUInfo.h"

namespace r263avo {

#ifdef TESSARO_X86
// x86/SadSse2.cpp and x86/SadAvx2.cpp
int Sad16FullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16SubSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16FullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
#endif

namespace {

// Row j of the block compares cur[j * curStride + i] with ref[2 * j * refStride + 2 * i]: the
// reference is a half-pel image, so one pixel step is two samples there.
int Sad16FullC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    for (int j = 0; j < 16; ++j) {
        const uint8_t* c = cur + j * curStride;
        const uint8_t* r = ref + 2 * j * refStride;
        for (int i = 0; i < 16; ++i) sum += std::abs(c[i] - r[2 * i]);
        if (sum > limit) return sum;
    }
    return sum;
}

// Rows and columns 0, 2, ..., 14 of the block; the partial sum is compared after every sampled row.
int Sad16SubC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    for (int j = 0; j < 16; j += 2) {
        const uint8_t* c = cur + j * curStride;
        const uint8_t* r = ref + 2 * j * refStride;
        for (int i = 0; i < 16; i += 2) sum += std::abs(c[i] - r[2 * i]);
        if (sum > limit) return sum;
    }
    return sum * 4;
}

}  // namespace

const SadKernels& SadKernelsC() {
    static const SadKernels kernels{Sad16FullC, Sad16SubC};
    return kernels;
}

SadKernels SelectSadKernels() {
    SadKernels k = SadKernelsC();
#ifdef TESSARO_X86
    const uint32_t flags = cpuinfo::SimdFlags();
    if (flags & cpuinfo::kSimdSse2) k = {Sad16FullSse2, Sad16SubSse2};
    if ((flags & cpuinfo::kSimdAvx2) && (flags & cpuinfo::kSimdSse2)) k.full = Sad16FullAvx2;
#endif
    return k;
}

}  // namespace r263avo
