// Decoding speed: pictures per second over a whole stream.
//
// The stream is the foreman CIF sequence (60 frames) coded by our encoder at quantiser 8, Speed 1,
// SearchWindow 15, when the shared sequence is present; otherwise a synthetic CIF sequence coded
// the same way. TESSARO_BENCH_STREAM=<file.263> decodes a given stream instead (for comparing with
// other decoders on the same bytes); TESSARO_BENCH_SAVE=<file.263> writes the stream decoded.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "R263AVO.h"
#include "R263IRI.h"
#include "SyntheticSequence.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> EncodeCif(const std::vector<uint8_t>& source, int frames) {
    r263avo::EncoderParams p;
    p.SourceFormat = 3;
    p.Width = 352;
    p.Height = 288;
    p.EndFrame = frames - 1;
    p.FrameCount = frames;
    p.PQuantizer = p.IQuantizer = 8;
    p.Speed = 1;
    p.SearchWindow = 15;
    std::vector<uint8_t> stream;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    if (r263avo::EncoderOpen(*e, p) == 0) {
        const size_t frameBytes = 352 * 288 * 3 / 2;
        for (int f = 0; f < frames;) {
            uint32_t isIntra = 0, bytes = 0;
            const int32_t next =
                r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * frameBytes, &bytes);
            if (next < f) break;
            const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
            stream.insert(stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
            f = next + 1;
        }
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    return stream;
}

const std::vector<uint8_t>& Stream(std::string* label) {
    static std::string name;
    static const std::vector<uint8_t> stream = [] {
        if (const char* given = std::getenv("TESSARO_BENCH_STREAM"); given && *given) {
            name = given;
            return ReadAll(given);
        }
        // The shared sequences sit in ../shared/data beside the checkout.
        std::string dir = __FILE__;
        dir = dir.substr(0, dir.find_last_of('/')) + "/../../shared/data";
        std::vector<uint8_t> source = ReadAll(dir + "/foreman.cif");
        const size_t frameBytes = 352 * 288 * 3 / 2;
        if (source.size() >= 60 * frameBytes) {
            name = "foreman.cif q8";
            return EncodeCif(source, 60);
        }
        tessaro::SyntheticOptions o;
        o.width = 352;
        o.height = 288;
        o.frames = 60;
        name = "synthetic CIF q8";
        return EncodeCif(tessaro::GenerateSyntheticSequence(o), 60);
    }();
    *label = name;
    if (const char* save = std::getenv("TESSARO_BENCH_SAVE"); save && *save) {
        std::ofstream(save, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    return stream;
}

void BM_DecodeStream(benchmark::State& state) {
    std::string label;
    const std::vector<uint8_t>& stream = Stream(&label);
    int64_t pictures = 0;
    r263iri::Decoder* d = r263iri::DecoderCreate();
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
    state.SetLabel(label + ", " + std::to_string(stream.size()) + " bytes");
    state.counters["pictures/s"] =
        benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
