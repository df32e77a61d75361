// libFuzzer target: the whole input is one stream, decoded picture by picture like the decode job
// does, with a fresh decoder context per input. Inputs whose size is odd are decoded with the
// macroblock analysis on, whose records of every returned picture are read through.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "R263IRI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    r263iri::Decoder* d = r263iri::DecoderCreate();
    const bool analysis = (size & 1) != 0;
    r263iri::DecoderSetAnalysis(*d, analysis);
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
        if (const r263iri::PictureAnalysis* a = r263iri::DecoderPictureAnalysis(*d)) {
            const int count = a->mbColumns * a->mbRows;
            for (int m = 0; m < count; ++m) sink = sink + a->macroblocks[m].quant + a->macroblocks[m].cbp;
        }
    }
    if (const uint8_t* picture = r263iri::DecoderFlush(*d)) sink = sink + picture[pictureBytes - 1];
    r263iri::DecoderClose(*d);
    r263iri::DecoderDestroy(d);
    return 0;
}
