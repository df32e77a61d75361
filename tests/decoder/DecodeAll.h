// Test helper: decodes a whole stream held in memory and collects the pictures in output order.
#pragma once

#include <cstdint>
#include <vector>

#include "R263IRI.h"

namespace decodertest {

struct DecodedStream {
    std::vector<std::vector<uint8_t>> pictures;
    uint32_t pictureBytes = 0;
    uint32_t calls = 0;
    std::vector<r263iri::DecodeStatus> statuses;
};

// Runs DecoderOpen, DecodePicture while position < size (at most maxCalls calls), DecoderFlush and
// DecoderClose on a fresh context.
inline DecodedStream DecodeAll(const uint8_t* data, size_t size, uint32_t maxCalls = 100000) {
    DecodedStream out;
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderOpen(*d);
    uint32_t position = 0;
    while (position < size && out.calls < maxCalls) {
        const uint8_t* pic =
            r263iri::DecodePicture(*d, data, size, &position, &out.pictureBytes, position == 0);
        ++out.calls;
        out.statuses.push_back(r263iri::DecoderGetInfo(*d).lastStatus);
        if (out.pictureBytes == 0xFFFFFFFFu) break;
        if (pic) out.pictures.emplace_back(pic, pic + out.pictureBytes);
    }
    if (const uint8_t* pic = r263iri::DecoderFlush(*d))
        out.pictures.emplace_back(pic, pic + out.pictureBytes);
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
    return out;
}

inline DecodedStream DecodeAll(const std::vector<uint8_t>& stream, uint32_t maxCalls = 100000) {
    return DecodeAll(stream.data(), stream.size(), maxCalls);
}

// A whole stream decoded with the macroblock analysis switched on or off: every picture returned,
// the analysis of each one that had an analysis (its macroblock pointer copied out, since the
// decoder reuses it), and how often the analysis and the pictures disagreed.
struct AnalysedStream {
    std::vector<std::vector<uint8_t>> images;
    std::vector<r263iri::PictureAnalysis> pictures;
    std::vector<std::vector<r263iri::MacroblockAnalysis>> macroblocks;
    int picturesWithoutAnalysis = 0;
    int analysesWithoutPicture = 0;  // an analysis offered by a call that returned no picture
};

inline AnalysedStream DecodeWithAnalysis(const std::vector<uint8_t>& stream, bool analysis = true) {
    AnalysedStream out;
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderSetAnalysis(*d, analysis);
    r263iri::DecoderOpen(*d);
    uint32_t position = 0, bytes = 0;
    auto take = [&](const uint8_t* picture) {
        const r263iri::PictureAnalysis* a = r263iri::DecoderPictureAnalysis(*d);
        if (!picture) {
            if (a) ++out.analysesWithoutPicture;
            return;
        }
        out.images.emplace_back(picture, picture + bytes);
        if (!a) {
            ++out.picturesWithoutAnalysis;
            return;
        }
        out.pictures.push_back(*a);
        out.macroblocks.emplace_back(a->macroblocks, a->macroblocks + a->mbColumns * a->mbRows);
    };
    while (position < stream.size()) {
        take(r263iri::DecodePicture(*d, stream.data(), stream.size(), &position, &bytes, position == 0));
    }
    take(r263iri::DecoderFlush(*d));
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
    return out;
}

}  // namespace decodertest
