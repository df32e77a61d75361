// Shared pieces of the whole-codec benchmarks: the test sequence and a plain encode loop.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "R263AVO.h"
#include "SyntheticSequence.h"

namespace benchsupport {

constexpr int kCifWidth = 352;
constexpr int kCifHeight = 288;
constexpr size_t kCifFrameBytes = kCifWidth * kCifHeight * 3 / 2;

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// 60 CIF frames: the foreman sequence from ../shared/data beside the checkout when present,
// otherwise the synthetic CIF sequence. `label` names which.
inline const std::vector<uint8_t>& CifSource(std::string* label) {
    static std::string name;
    static const std::vector<uint8_t> source = [] {
        std::string dir = __FILE__;
        dir = dir.substr(0, dir.find_last_of('/')) + "/../../shared/data";
        std::vector<uint8_t> foreman = ReadAll(dir + "/foreman.cif");
        if (foreman.size() >= 60 * kCifFrameBytes) {
            foreman.resize(60 * kCifFrameBytes);
            name = "foreman.cif";
            return foreman;
        }
        tessaro::SyntheticOptions o;
        o.width = kCifWidth;
        o.height = kCifHeight;
        o.frames = 60;
        name = "synthetic CIF";
        return tessaro::GenerateSyntheticSequence(o);
    }();
    *label = name;
    return source;
}

struct EncodeResult {
    std::vector<uint8_t> stream;
    int pictures = 0;
    double meanSnrY = 0.0;
};

// Encodes `frames` CIF frames with the given parameters (first frame intra, the rest P).
inline EncodeResult EncodeCif(const std::vector<uint8_t>& source, int frames, r263avo::EncoderParams p) {
    p.SourceFormat = 3;
    p.Width = kCifWidth;
    p.Height = kCifHeight;
    p.StartFrame = 0;
    p.EndFrame = frames - 1;
    p.FrameCount = frames;
    EncodeResult result;
    r263avo::Encoder* e = r263avo::EncoderCreate();
    if (r263avo::EncoderOpen(*e, p) == 0) {
        for (int f = 0; f < frames;) {
            uint32_t isIntra = 0, bytes = 0;
            const int32_t next =
                r263avo::EncodeFrame(*e, f, f == 0, &isIntra, source.data() + f * kCifFrameBytes, &bytes);
            if (next < f) break;
            const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*e);
            result.stream.insert(result.stream.end(), stats.OutputBuffer, stats.OutputBuffer + bytes);
            if (bytes > 0) {
                ++result.pictures;
                result.meanSnrY += stats.SnrY;
            }
            f = next + 1;
        }
    }
    r263avo::EncoderClose(*e);
    r263avo::EncoderDestroy(e);
    if (result.pictures > 0) result.meanSnrY /= result.pictures;
    return result;
}

}  // namespace benchsupport
