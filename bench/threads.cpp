// The encoder's threads: wall-clock time of 20 pictures of foreman CIF scaled (by pixel
// repetition) to 4CIF and 16CIF, or of the synthetic sequence at those sizes, at 1, 2 and one
// per core (0) threads. PQuantizer = IQuantizer = 8, Speed 1, SearchWindow 15, SNR off.
#include <benchmark/benchmark.h>

#include <map>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {

constexpr int kPictures = 20;

// Frame f of the CIF source, each sample repeated `factor` times in both directions.
std::vector<uint8_t> Upscaled(const std::vector<uint8_t>& cif, int frames, int factor) {
    const int w = benchsupport::kCifWidth, h = benchsupport::kCifHeight;
    const int ow = w * factor, oh = h * factor;
    const size_t outFrame = static_cast<size_t>(ow) * oh * 3 / 2;
    std::vector<uint8_t> out(outFrame * frames);
    for (int f = 0; f < frames; ++f) {
        const uint8_t* src = cif.data() + f * benchsupport::kCifFrameBytes;
        uint8_t* dst = out.data() + f * outFrame;
        struct Plane {
            int w, h;
            size_t in, out;
        };
        const Plane planes[3] = {
            {w, h, 0, 0},
            {w / 2, h / 2, static_cast<size_t>(w) * h, static_cast<size_t>(ow) * oh},
            {w / 2, h / 2, static_cast<size_t>(w) * h * 5 / 4, static_cast<size_t>(ow) * oh * 5 / 4}};
        for (const Plane& p : planes) {
            for (int y = 0; y < p.h * factor; ++y)
                for (int x = 0; x < p.w * factor; ++x)
                    dst[p.out + static_cast<size_t>(y) * p.w * factor + x] =
                        src[p.in + static_cast<size_t>(y / factor) * p.w + x / factor];
        }
    }
    return out;
}

void BM_EncodeThreads(benchmark::State& state) {
    const int format = static_cast<int>(state.range(0));  // 4 = 4CIF, 5 = 16CIF
    const int factor = format == 4 ? 2 : 4;
    std::string label;
    static std::map<int, std::vector<uint8_t>> sources;
    std::vector<uint8_t>& source = sources[factor];
    if (source.empty()) source = Upscaled(benchsupport::CifSource(&label), kPictures, factor);
    benchsupport::CifSource(&label);
    const int w = benchsupport::kCifWidth * factor, h = benchsupport::kCifHeight * factor;
    const size_t frameBytes = static_cast<size_t>(w) * h * 3 / 2;

    r263avo::EncoderParams p;
    p.SourceFormat = format;
    p.Width = w;
    p.Height = h;
    p.EndFrame = kPictures - 1;
    p.FrameCount = kPictures;
    p.PQuantizer = p.IQuantizer = 8;
    p.Speed = 1;
    p.SearchWindow = 15;
    p.Threads = static_cast<int32_t>(state.range(1));
    r263avo::Encoder* e = r263avo::EncoderCreate();
    size_t bytes = 0;
    for (auto _ : state) {
        if (r263avo::EncoderOpen(*e, p) != 0) {
            state.SkipWithError("EncoderOpen refused");
            break;
        }
        bytes = 0;
        for (int f = 0; f < kPictures; ++f) {
            uint32_t isIntra = 0, count = 0;
            r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * frameBytes, &count);
            bytes += count;
        }
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    state.SetLabel(label + (format == 4 ? " as 4CIF" : " as 16CIF"));
    state.counters["fps"] = benchmark::Counter(kPictures * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeThreads)
    ->ArgsProduct({{4, 5}, {1, 2, 0}})
    ->ArgNames({"format", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The machine's own parallelism, as a yardstick for the figures above: a fixed amount of
// independent arithmetic split over 1 or 2 threads. On a shared machine whose other core is busy
// the 2-thread time does not halve, and neither can the encoder's.
void BM_MachineParallelism(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    constexpr long kSteps = 100000000;
    auto work = [](long steps) {
        uint64_t s = 0;
        for (long i = 0; i < steps; ++i) {
            s += static_cast<uint64_t>(i) * static_cast<uint64_t>(i);
            benchmark::DoNotOptimize(s);
        }
    };
    for (auto _ : state) {
        std::vector<std::thread> others;
        for (int t = 1; t < threads; ++t) others.emplace_back(work, kSteps / threads);
        work(kSteps / threads);
        for (auto& t : others) t.join();
    }
}
BENCHMARK(BM_MachineParallelism)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("threads")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
