// Motion-search and interpolation kernels, plain C++ against each SIMD level.
// Argument: 0 = plain C, 1 = SSE2, 2 = AVX2 (skipped when the processor lacks it).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "CPUInfo.h"
#include "R263AVO/Interpolation.h"
#include "R263AVO/Kernels.h"
#include "R263AVO/MBlockOperations.h"
#include "R263AVO/Picture.h"
#include "R263AVO/Sad.h"

namespace {

constexpr int kCifW = 352, kCifH = 288;

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return v;
}

// Sets the SIMD mask for the level of the benchmark argument; false when unavailable.
bool UseLevel(benchmark::State& state) {
    static const uint32_t kMasks[] = {0, cpuinfo::kSimdSse2, cpuinfo::kSimdSse2 | cpuinfo::kSimdAvx2};
    const uint32_t mask = kMasks[state.range(0)];
    cpuinfo::SetSimdMask(~0u);
    if ((cpuinfo::SimdFlags() & mask) != mask) {
        state.SkipWithError("SIMD level not available");
        return false;
    }
    cpuinfo::SetSimdMask(mask);
    return true;
}

const char* LevelName(int level) {
    return level == 0 ? "c" : (level == 1 ? "sse2" : "avx2");
}

template <bool kSub>
void BM_Sad(benchmark::State& state) {
    if (!UseLevel(state)) return;
    const r263avo::SadKernels k = r263avo::SelectSadKernels();
    const r263avo::Sad16Fn fn = kSub ? k.sub : k.full;
    const auto cur = Noise(kCifW * kCifH, 1);
    const auto interp =
        Noise(static_cast<size_t>(r263avo::InterpStride(kCifW)) * r263avo::InterpRows(kCifH), 2);
    const int stride = r263avo::InterpStride(kCifW);
    // A sweep of positions around one macroblock, as the search would visit them.
    int u = 0;
    for (auto _ : state) {
        const int s =
            fn(cur.data() + 64 * kCifW + 64, kCifW,
               r263avo::InterpAt(interp.data(), kCifW, 128 + (u & 31), 128 + ((u >> 5) & 31)), stride, 65535);
        benchmark::DoNotOptimize(s);
        ++u;
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    cpuinfo::SetSimdMask(~0u);
}

void BM_InterpolateCif(benchmark::State& state) {
    if (!UseLevel(state)) return;
    const auto luma = Noise(kCifW * kCifH, 3);
    std::vector<uint8_t> out(static_cast<size_t>(r263avo::InterpStride(kCifW)) * r263avo::InterpRows(kCifH));
    for (auto _ : state) {
        r263avo::InterpolatePicture(luma.data(), kCifW, kCifH, out.data(), false);
        benchmark::ClobberMemory();
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(state.iterations() * kCifW * kCifH);
    cpuinfo::SetSimdMask(~0u);
}

// Prediction and prediction error of one macroblock (half-pel vector), then the reconstruction
// of its six blocks by add-and-clip: the per-macroblock pixel work of an INTER macroblock, as the
// encoder does it, with the prediction formed in its place in the reconstructed picture.
void BM_InterMacroblock(benchmark::State& state) {
    if (!UseLevel(state)) return;
    auto cur = Noise(kCifW * kCifH * 3 / 2, 4);
    auto ref = Noise(kCifW * kCifH * 3 / 2, 5);
    std::vector<uint8_t> recon(kCifW * kCifH * 3 / 2);
    const auto curView = r263avo::MakePictureView(cur.data(), kCifW, kCifH);
    const auto refView = r263avo::MakePictureView(ref.data(), kCifW, kCifH);
    const auto recView = r263avo::MakePictureView(recon.data(), kCifW, kCifH);
    const r263avo::EncoderKernels kernels = r263avo::SelectEncoderKernels(cpuinfo::SimdFlags());
    const r263avo::PredictionPlaces places = r263avo::PicturePlaces(recView, 160, 128);
    int16_t blocks[6][64];
    for (auto _ : state) {
        r263avo::FormInterPrediction(kernels, curView, refView, 160, 128, 3, -5, places, blocks);
        for (int b = 0; b < 6; ++b) r263avo::AddBlockInPlace(kernels, recView, 160, 128, b, blocks[b]);
        benchmark::ClobberMemory();
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    cpuinfo::SetSimdMask(~0u);
}

}  // namespace

// The plain-plane kernels the motion search runs on whole pixels and on the half-pel phase
// planes, with a limit that stops them (as in the descent) and one that never does.
template <bool kSub>
void BM_PlaneSad(benchmark::State& state) {
    if (!UseLevel(state)) return;
    const r263avo::SadKernels k = r263avo::SelectSadKernels();
    const r263avo::Sad16Fn fn = kSub ? k.planeSub : k.planeFull;
    const auto cur = Noise(kCifW * kCifH, 1);
    const auto ref = Noise(kCifW * kCifH, 2);
    const int limit = static_cast<int>(state.range(1));
    int u = 0;
    for (auto _ : state) {
        const int s = fn(cur.data() + 64 * kCifW + 64, kCifW,
                         ref.data() + (48 + ((u >> 5) & 31)) * kCifW + 48 + (u & 31), kCifW, limit);
        benchmark::DoNotOptimize(s);
        ++u;
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    cpuinfo::SetSimdMask(~0u);
}

// A search step's run of four cross positions, each against the best so far. A starting best of 0
// stands for bests that vary from call to call as in a search, so that the row where a position
// stops cannot be predicted.
void BM_PlaneRun(benchmark::State& state) {
    if (!UseLevel(state)) return;
    const r263avo::SadKernels k = r263avo::SelectSadKernels();
    const auto cur = Noise(kCifW * kCifH, 1);
    const auto ref = Noise(kCifW * kCifH, 2);
    const int start = static_cast<int>(state.range(1));
    std::vector<int> starts(256);
    uint32_t seed = 12345;
    for (int& b : starts) b = start != 0 ? start : 6000 + static_cast<int>((seed = seed * 1664525 + 1013904223) >> 18) % 20000;
    int u = 0, costs[4];
    for (auto _ : state) {
        const uint8_t* at = ref.data() + (48 + ((u >> 5) & 31)) * kCifW + 48 + (u & 31);
        const uint8_t* refs[4] = {at - 1, at + kCifW, at + 1, at - kCifW};
        int best = starts[u & 255];
        k.planeRun(cur.data() + 64 * kCifW + 64, kCifW, refs, 4, &best, costs);
        benchmark::DoNotOptimize(costs);
        benchmark::DoNotOptimize(best);
        ++u;
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    cpuinfo::SetSimdMask(~0u);
}

// The half-pel refinement: the eight positions around a whole pixel, interpolated from the plane.
void BM_HalfRing(benchmark::State& state) {
    if (!UseLevel(state)) return;
    const r263avo::SadKernels k = r263avo::SelectSadKernels();
    const auto cur = Noise(kCifW * kCifH, 1);
    const auto ref = Noise(kCifW * kCifH, 2);
    int u = 0, costs[8];
    for (auto _ : state) {
        const uint8_t* at = ref.data() + (48 + ((u >> 5) & 31)) * kCifW + 48 + (u & 31);
        k.halfRing(cur.data() + 64 * kCifW + 64, kCifW, at, kCifW, costs);
        benchmark::DoNotOptimize(costs);
        ++u;
    }
    state.SetLabel(LevelName(static_cast<int>(state.range(0))));
    cpuinfo::SetSimdMask(~0u);
}

BENCHMARK(BM_InterMacroblock)->DenseRange(0, 1);
BENCHMARK(BM_PlaneRun)->Name("Sad16PlaneRun4")->ArgsProduct({{0, 1, 2}, {21000, 0}});
BENCHMARK(BM_HalfRing)->Name("Sad16HalfRing")->DenseRange(0, 2);
BENCHMARK(BM_PlaneSad<false>)->Name("Sad16PlaneFull")->ArgsProduct({{0, 1, 2}, {65535, 10000}});
BENCHMARK(BM_PlaneSad<true>)->Name("Sad16PlaneSub")->ArgsProduct({{0, 1, 2}, {65535, 2500}});
BENCHMARK(BM_Sad<false>)->Name("Sad16Full")->DenseRange(0, 2);
BENCHMARK(BM_Sad<true>)->Name("Sad16Sub")->DenseRange(0, 2);
BENCHMARK(BM_InterpolateCif)->DenseRange(0, 2);

BENCHMARK_MAIN();
