// Decoding speed: pictures per second over a whole stream.
//
// The stream is the foreman CIF sequence (60 frames) coded by our encoder at quantiser 8, Speed 1,
// SearchWindow 15, when the shared sequence is present; otherwise a synthetic CIF sequence coded
// the same way. TESSARO_BENCH_STREAM=<file.263> decodes a given stream instead (for comparing with
// other decoders on the same bytes); TESSARO_BENCH_SAVE=<file.263> writes the stream decoded.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "R263IRI.h"

namespace {

const std::vector<uint8_t>& Stream(std::string* label) {
    static std::string name;
    static const std::vector<uint8_t> stream = [] {
        if (const char* given = std::getenv("TESSARO_BENCH_STREAM"); given && *given) {
            name = given;
            return benchsupport::ReadAll(given);
        }
        std::string source;
        const std::vector<uint8_t>& frames = benchsupport::CifSource(&source);
        name = source + " q8";
        r263avo::EncoderParams p;
        p.PQuantizer = p.IQuantizer = 8;
        p.Speed = 1;
        p.SearchWindow = 15;
        return benchsupport::EncodeCif(frames, 60, p).stream;
    }();
    *label = name;
    if (const char* save = std::getenv("TESSARO_BENCH_SAVE"); save && *save) {
        std::ofstream(save, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    return stream;
}

// Argument 1: with the macroblock analysis switched on (the overlay's data), to show its cost.
void BM_DecodeStream(benchmark::State& state) {
    std::string label;
    const std::vector<uint8_t>& stream = Stream(&label);
    int64_t pictures = 0;
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderSetAnalysis(*d, state.range(0) != 0);
    for (auto _ : state) {
        r263iri::DecoderOpen(*d);
        uint32_t position = 0, bytes = 0;
        while (position < stream.size()) {
            if (r263iri::DecodePicture(*d, stream.data(), stream.size(), &position, &bytes, position == 0))
                ++pictures;
        }
        if (r263iri::DecoderFlush(*d)) ++pictures;
        r263iri::DecoderClose(*d);
    }
    r263iri::DecoderDestroy(d);
    state.SetLabel(label + ", " + std::to_string(stream.size()) + " bytes" +
                   (state.range(0) ? ", with analysis" : ""));
    state.counters["pictures/s"] =
        benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeStream)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
