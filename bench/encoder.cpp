// Encoding speed: frames per second over 60 CIF frames at quantiser 8 for each Speed preset, with
// the stream size and mean luma PSNR as counters. The sequence is foreman when the shared data is
// present, otherwise the synthetic CIF sequence.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "CPUInfo.h"

namespace {

void BM_EncodeCif(benchmark::State& state) {
    std::string label;
    const std::vector<uint8_t>& source = benchsupport::CifSource(&label);
    r263avo::EncoderParams p;
    p.PQuantizer = p.IQuantizer = 8;
    p.Speed = static_cast<int32_t>(state.range(0));
    p.SearchWindow = 15;
    p.ComputeSnr = 1;
    benchsupport::EncodeResult result;
    for (auto _ : state) {
        result = benchsupport::EncodeCif(source, 60, p);
        benchmark::DoNotOptimize(result.stream.data());
    }
    state.SetLabel(label);
    state.counters["fps"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(result.stream.size());
    state.counters["psnrY"] = result.meanSnrY;
}
BENCHMARK(BM_EncodeCif)->DenseRange(1, 5)->Unit(benchmark::kMillisecond);

// The same encode with the plain C++ kernels only, to show what the SIMD kernels give.
void BM_EncodeCifPlainC(benchmark::State& state) {
    cpuinfo::SetSimdMask(0);
    BM_EncodeCif(state);
    cpuinfo::SetSimdMask(~0u);
}
BENCHMARK(BM_EncodeCifPlainC)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
