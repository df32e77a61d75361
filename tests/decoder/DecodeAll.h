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

}  // namespace decodertest
