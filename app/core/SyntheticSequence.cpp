#include "SyntheticSequence.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "R263COM/PictureFormats.h"

namespace tessaro {
namespace {

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

int FloorDiv(int a, int b) {
    return (a >= 0) ? a / b : -((-a + b - 1) / b);
}

// Value noise sampled in half-pel units: lattice cells of 32 half-pels (16 pixels) with bilinear
// blending, plus a fine checker pattern so that the motion search has detail to lock onto.
int Texture(int hx, int hy, uint32_t seed, int lo, int hi) {
    const int cell = 32;
    int ix = FloorDiv(hx, cell), iy = FloorDiv(hy, cell);
    int fx = hx - ix * cell, fy = hy - iy * cell;
    auto lattice = [&](int i, int j) {
        return lo + static_cast<int>(Hash(i, j, seed) % static_cast<uint32_t>(hi - lo + 1));
    };
    int v00 = lattice(ix, iy), v10 = lattice(ix + 1, iy), v01 = lattice(ix, iy + 1),
        v11 = lattice(ix + 1, iy + 1);
    int top = v00 * (cell - fx) + v10 * fx;
    int bottom = v01 * (cell - fx) + v11 * fx;
    int value = (top * (cell - fy) + bottom * fy + cell * cell / 2) / (cell * cell);
    // Checker of 4x4 pixels (8 half-pels), averaged over the half-pel footprint.
    int checker = ((FloorDiv(hx, 8) + FloorDiv(hy, 8)) & 1) ? 10 : -10;
    return std::clamp(value + checker, 0, 255);
}

struct Rect {
    int x0, y0, x1, y1;
    bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

}  // namespace

bool PictureFormatSize(int format, int* width, int* height) {
    return r263com::StandardFormatSize(format, width, height);
}

bool ParseSizeName(const std::string& name, int* width, int* height) {
    static const char* names[5] = {"sqcif", "qcif", "cif", "4cif", "16cif"};
    std::string lower;
    for (char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (int i = 0; i < 5; ++i) {
        if (lower == names[i]) return PictureFormatSize(i + 1, width, height);
    }
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(lower.c_str(), "%dx%d%c", &w, &h, &tail) != 2) return false;
    if (w < 2 || h < 2 || w > 4096 || h > 4096 || (w & 1) || (h & 1)) return false;
    *width = w;
    *height = h;
    return true;
}

void GenerateSyntheticFrame(const SyntheticOptions& o, int index, uint8_t* out) {
    const int w = o.width, h = o.height;
    int cut = o.sceneCut >= 0 ? o.sceneCut : (o.frames >= 4 ? o.frames * 3 / 4 : o.frames + 1);
    const bool second = index >= cut;
    const int t = second ? index - cut : index;
    const uint32_t seed = o.seed * 31u + (second ? 7u : 0u);

    // Background pan in half-pels: one pixel per frame horizontally, half a pixel vertically
    // (the second scene pans the other way).
    const int panX = second ? -2 * t : 2 * t;
    const int panY = second ? -t : t;
    // The object moves by 3 and 1 half-pels per frame and wraps around the picture.
    const int objW = std::max(2, w / 4), objH = std::max(2, h / 4);
    const int objX2 = (w / 3) * 2 + 3 * t, objY2 = (h / 3) * 2 + t;
    const Rect flat{w / 16, h - h / 4, w / 16 + w / 5, h - h / 4 + h / 5};
    const Rect noisy{w - w / 16 - w / 5, h / 16, w - w / 16, h / 16 + h / 5};

    uint8_t* y = out;
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            int v;
            if (flat.Contains(i, j)) {
                v = second ? 180 : 90;
            } else if (noisy.Contains(i, j)) {
                v = 30 + static_cast<int>(Hash(i, j, index * 977u + o.seed) % 196u);
            } else {
                // Object coordinates relative to its (wrapped) half-pel position.
                int ox = FloorDiv(2 * i - objX2, 2) % w, oy = FloorDiv(2 * j - objY2, 2) % h;
                if (ox < 0) ox += w;
                if (oy < 0) oy += h;
                if (ox < objW && oy < objH) {
                    v = Texture(2 * i - objX2, 2 * j - objY2, seed + 3, 20, 120);
                } else {
                    v = Texture(2 * i + panX, 2 * j + panY, seed, 60, 230);
                }
            }
            y[j * w + i] = static_cast<uint8_t>(v);
        }
    }
    const int cw = w / 2, ch = h / 2;
    uint8_t* u = out + w * h;
    uint8_t* vplane = u + cw * ch;
    for (int j = 0; j < ch; ++j) {
        for (int i = 0; i < cw; ++i) {
            const int li = 2 * i, lj = 2 * j;
            int cu, cv;
            if (flat.Contains(li, lj)) {
                cu = second ? 100 : 140;
                cv = second ? 150 : 110;
            } else {
                cu = Texture(2 * li + panX, 2 * lj + panY, seed + 11, 90, 170);
                cv = Texture(2 * li + panX, 2 * lj + panY, seed + 13, 80, 180);
            }
            u[j * cw + i] = static_cast<uint8_t>(cu);
            vplane[j * cw + i] = static_cast<uint8_t>(cv);
        }
    }
}

std::vector<uint8_t> GenerateSyntheticSequence(const SyntheticOptions& o) {
    const size_t frameBytes = static_cast<size_t>(o.width) * o.height * 3 / 2;
    std::vector<uint8_t> data(frameBytes * std::max(0, o.frames));
    for (int f = 0; f < o.frames; ++f) GenerateSyntheticFrame(o, f, data.data() + frameBytes * f);
    return data;
}

}  // namespace tessaro
