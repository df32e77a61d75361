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
void Sad16HalfRingSse2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]);
void Sad16HalfRingAvx2(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]);
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

// A run made of one-position calls of kFull, for the levels without a kernel of their own.
template <Sad16Fn kFull>
void RunOfCalls(const uint8_t* cur, int stride, const uint8_t* const* refs, int n, int* best, int* costs) {
    for (int i = 0; i < n; ++i) {
        costs[i] = kFull(cur, stride, refs[i], stride, *best);
        if (costs[i] < *best) *best = costs[i];
    }
}

void Sad16HalfRingC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int costs[8]) {
    for (int k = 0; k < 8; ++k)
        costs[k] = Sad16PlaneHalfC(cur, curStride, ref, refStride, kHalfRing[k][0], kHalfRing[k][1]);
}

}  // namespace

int Sad16PlaneHalfC(const uint8_t* cur, int curStride, const uint8_t* ref, int refStride, int dx, int dy) {
    // Four samples a, b, c, d around each predicted one, some of them the same when an offset is
    // zero: (4a + 2) >> 2 = a and (2a + 2b + 2) >> 2 = (a + b + 1) >> 1 give the other cases.
    const uint8_t* base = ref + (dy < 0 ? -refStride : 0) + (dx < 0 ? -1 : 0);
    const long right = dx != 0 ? 1 : 0, down = dy != 0 ? refStride : 0;
    int sum = 0;
    for (int j = 0; j < 16; ++j) {
        const uint8_t* p = base + static_cast<long>(j) * refStride;
        const uint8_t* c = cur + static_cast<long>(j) * curStride;
        for (int i = 0; i < 16; ++i) {
            const int v = (p[i] + p[i + right] + p[i + down] + p[i + right + down] + 2) >> 2;
            sum += std::abs(c[i] - v);
        }
    }
    return sum;
}

const SadKernels& SadKernelsC() {
    static const SadKernels kernels{Sad16FullC,
                                    Sad16SubC,
                                    Sad16PlaneFullC,
                                    Sad16PlaneSubC,
                                    RunOfCalls<Sad16PlaneFullC>,
                                    Sad16HalfRingC};
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
             Sad16HalfRingSse2};
    if ((flags & cpuinfo::kSimdAvx2) && (flags & cpuinfo::kSimdSse2)) {
        k.full = Sad16FullAvx2;
        k.planeFull = Sad16PlaneFullAvx2;
        k.planeSub = Sad16PlaneSubAvx2;
        k.planeRun = Sad16PlaneRunAvx2;
        k.halfRing = Sad16HalfRingAvx2;
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
