#include "Sad.h"

#include <cstdlib>

#include "CPUInfo.h"

namespace r263avo {

#ifdef TESSARO_X86
// x86/SadSse2.cpp and x86/SadAvx2.cpp
int Sad16FullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16SubSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16FullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16PlaneFullSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16PlaneSubSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16PlaneFullAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
int Sad16PlaneSubAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit);
void Sad16PlaneRunAvx2(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* best,
                       int* costs);
void Sad16PlaneSetAvx2(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* costs);
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

// The same two on a plain plane: row j at ref + j * refStride.
int Sad16PlaneFullC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    for (int j = 0; j < 16; ++j) {
        const uint8_t* c = cur + j * curStride;
        const uint8_t* r = ref + j * refStride;
        for (int i = 0; i < 16; ++i) sum += std::abs(c[i] - r[i]);
        if (sum > limit) return sum;
    }
    return sum;
}

int Sad16PlaneSubC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int limit) {
    int sum = 0;
    for (int j = 0; j < 16; j += 2) {
        const uint8_t* c = cur + j * curStride;
        const uint8_t* r = ref + j * refStride;
        for (int i = 0; i < 16; i += 2) sum += std::abs(c[i] - r[i]);
        if (sum > limit) return sum;
    }
    return sum * 4;
}

// A run and a set made of one-position calls of kFull, for the levels without a kernel of their own.
template <Sad16Fn kFull>
void RunOfCalls(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* best, int* costs) {
    for (int i = 0; i < n; ++i) {
        costs[i] = kFull(cur, stride, refs[i], stride, *best);
        if (costs[i] < *best) *best = costs[i];
    }
}

template <Sad16Fn kFull>
void SetOfCalls(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* costs) {
    for (int i = 0; i < n; ++i) costs[i] = kFull(cur, stride, refs[i], stride, 65535);
}

}  // namespace

const SadKernels& SadKernelsC() {
    static const SadKernels kernels{Sad16FullC,
                                    Sad16SubC,
                                    Sad16PlaneFullC,
                                    Sad16PlaneSubC,
                                    RunOfCalls<Sad16PlaneFullC>,
                                    SetOfCalls<Sad16PlaneFullC>};
    return kernels;
}

SadKernels SelectSadKernels(uint32_t flags) {
    SadKernels k = SadKernelsC();
#ifdef TESSARO_X86
    if (flags & cpuinfo::kSimdSse2)
        k = {Sad16FullSse2,
             Sad16SubSse2,
             Sad16PlaneFullSse2,
             Sad16PlaneSubSse2,
             RunOfCalls<Sad16PlaneFullSse2>,
             SetOfCalls<Sad16PlaneFullSse2>};
    if ((flags & cpuinfo::kSimdAvx2) && (flags & cpuinfo::kSimdSse2)) {
        k.full = Sad16FullAvx2;
        k.planeFull = Sad16PlaneFullAvx2;
        k.planeSub = Sad16PlaneSubAvx2;
        k.planeRun = Sad16PlaneRunAvx2;
        k.planeSet = Sad16PlaneSetAvx2;
    }
#else
    (void)flags;
#endif
    return k;
}

SadKernels SelectSadKernels() {
    return SelectSadKernels(cpuinfo::SimdFlags());
}

}  // namespace r263avo
