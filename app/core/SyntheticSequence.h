// Deterministic synthetic YUV 4:2:0 sequences for tests, benchmarks and the demo.
//
// Every frame holds a panned texture (one pixel right and half a pixel down per frame), an object
// that moves by half pixels over it, a flat area, an area of fresh noise in every frame, and a
// scene cut to different content. All arithmetic is integer, so the bytes are the same on every
// machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro {

struct SyntheticOptions {
    int width = 176;
    int height = 144;
    int frames = 10;
    uint32_t seed = 1;
    int sceneCut =
        -1;  // first frame of the new scene; -1 puts it at 3/4 of the sequence (none below 4 frames)
};

// Size of a picture format code 1..5 (sub-QCIF .. 16CIF); false for other codes.
bool PictureFormatSize(int format, int* width, int* height);

// Parses "sqcif", "qcif", "cif", "4cif", "16cif" or "WxH" (even sizes only). False when invalid.
bool ParseSizeName(const std::string& name, int* width, int* height);

// Writes frame `index` (width x height x 3/2 bytes) to `out`.
void GenerateSyntheticFrame(const SyntheticOptions& options, int index, uint8_t* out);

// All frames, one after another.
std::vector<uint8_t> GenerateSyntheticSequence(const SyntheticOptions& options);

}  // namespace tessaro
