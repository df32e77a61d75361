// libFuzzer target: the picture-size peek of ".263" files. Whatever the bytes, an accepted header
// must describe a size the decoder and the raw-file layer can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "VideoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessaro::BitstreamPeek peek;
    if (tessaro::PeekPictureSize(data, size, &peek)) {
        const bool sane = peek.format >= 1 && peek.format <= 6 && peek.width >= 4 && peek.width <= 2048 &&
                          peek.height >= 4 && peek.height <= 1152;
        if (!sane) abort();
    }
    return 0;
}
