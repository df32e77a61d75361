// libFuzzer target: the whole input is one stream, decoded picture by picture like the decode job
// does, with a fresh decoder context per input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "R263IRI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    r263iri::Decoder* d = r263iri::DecoderCreate();
    r263iri::DecoderOpen(*d);
    uint32_t position = 0, pictureBytes = 0;
    uint32_t calls = 0;
    volatile uint8_t sink = 0;
    while (position < size && calls++ < 100000) {
        const uint8_t* picture =
            r263iri::DecodePicture(*d, data, size, &position, &pictureBytes, position == 0);
        if (pictureBytes == 0xFFFFFFFFu) break;
        // Touch the first and last byte of every returned picture.
        if (picture && pictureBytes) sink = sink + picture[0] + picture[pictureBytes - 1];
    }
    if (const uint8_t* picture = r263iri::DecoderFlush(*d)) sink = sink + picture[pictureBytes - 1];
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
    return 0;
}
