// Writes a deterministic synthetic YUV 4:2:0 sequence: tessaro-synth SIZE FRAMES OUT [SEED]
// SIZE is sqcif, qcif, cif, 4cif, 16cif or WxH.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SyntheticSequence.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SIZE FRAMES OUT [SEED]\n", argv[0]);
        return 2;
    }
    tessaro::SyntheticOptions o;
    if (!tessaro::ParseSizeName(argv[1], &o.width, &o.height)) {
        std::fprintf(stderr, "invalid size: %s\n", argv[1]);
        return 2;
    }
    o.frames = std::atoi(argv[2]);
    if (o.frames < 1 || o.frames > 100000) {
        std::fprintf(stderr, "invalid frame count: %s\n", argv[2]);
        return 2;
    }
    if (argc > 4) o.seed = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    FILE* out = std::fopen(argv[3], "wb");
    if (!out) {
        std::perror(argv[3]);
        return 1;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(o.width) * o.height * 3 / 2);
    for (int f = 0; f < o.frames; ++f) {
        tessaro::GenerateSyntheticFrame(o, f, frame.data());
        if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
            std::perror(argv[3]);
            std::fclose(out);
            return 1;
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
