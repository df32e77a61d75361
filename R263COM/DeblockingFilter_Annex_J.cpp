#include "DeblockingFilter_Annex_J.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

#include "QuantTables.h"

namespace r263com {

// H.263 Table J.2: STRENGTH for QUANT 1..31.
const uint8_t DeblockStrengthTable[32] = {0, 1, 1, 2, 2, 3, 3, 4,  4,  4,  5,  5,  6,  6,  7,  7,
                                          7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12, 12, 12};

int DeblockStrength(int quant) {
    return DeblockStrengthTable[std::clamp(quant, 1, 31)];
}

DeblockRamp::DeblockRamp(int strength) {
    for (int d = -kMaxD; d <= kMaxD; ++d) {
        const int m = std::abs(d);
        int r = 0;
        if (m <= strength) {
            r = d;
        } else if (m < 2 * strength) {
            r = d > 0 ? 2 * strength - m : m - 2 * strength;
        }
        table[d + kMaxD] = static_cast<int16_t>(r);
    }
}

namespace {

template <size_t... S>
std::array<DeblockRamp, sizeof...(S)> BuildRamps(std::index_sequence<S...>) {
    return {DeblockRamp(static_cast<int>(S))...};
}

inline uint8_t Clip(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// One position across an edge: a, b before it, c, d after it, `step` apart.
inline void FilterPosition(uint8_t* c, int step, const DeblockRamp& ramp) {
    uint8_t* b = c - step;
    uint8_t* a = b - step;
    uint8_t* d = c + step;
    const int pa = *a, pb = *b, pc = *c, pd = *d;
    const int d1 = ramp((pa - 4 * pb + 4 * pc - pd) / 8);
    const int lim = std::abs(d1 / 2);
    const int d2 = std::clamp((pa - pd) / 4, -lim, lim);
    *a = Clip(pa - d2);
    *b = Clip(pb + d1);
    *c = Clip(pc - d1);
    *d = Clip(pd + d2);
}

// The picture and the per-macroblock state that decide one edge.
struct Context {
    DeblockPlanes p;
    const uint8_t* coded;
    const uint8_t* quant;
    int mbPerRow;
    bool mq;

    // The ramps for the edge between macroblock m1 (above or left) and m2 (below or right), or
    // false when neither is coded and the edge stays as it is.
    bool Ramps(int m1, int m2, const DeblockRamp** luma, const DeblockRamp** chroma) const {
        int q;
        if (coded[m2]) {
            q = quant[m2];
        } else if (coded[m1]) {
            q = quant[m1];
        } else {
            return false;
        }
        *luma = &DeblockRampOf(DeblockStrength(q));
        *chroma = mq ? &DeblockRampOf(DeblockStrength(ChromaQuant(q, true))) : *luma;
        return true;
    }
};

// Horizontal edges of macroblock m at (x, y): the top edges (not in the first row) and the two
// inner luma edges.
void HorizontalEdges(const Context& c, int m, int x, int y) {
    const int w = c.p.width, cw = w / 2;
    uint8_t* yTop = c.p.y + y * w + x;
    const DeblockRamp *luma, *chroma;
    if (y > 0 && c.Ramps(m - c.mbPerRow, m, &luma, &chroma)) {
        FilterAcrossRow(yTop, w, *luma);
        FilterAcrossRow(yTop + 8, w, *luma);
        const int offset = (y / 2) * cw + x / 2;
        FilterAcrossRow(c.p.u + offset, cw, *chroma);
        FilterAcrossRow(c.p.v + offset, cw, *chroma);
    }
    if (c.Ramps(m, m, &luma, &chroma)) {
        FilterAcrossRow(yTop + 8 * w, w, *luma);
        FilterAcrossRow(yTop + 8 * w + 8, w, *luma);
    }
}

// Vertical edges of macroblock m at (x, y): the left edges (not in the first column) and the two
// inner luma edges.
void VerticalEdges(const Context& c, int m, int x, int y) {
    const int w = c.p.width, cw = w / 2;
    uint8_t* yTop = c.p.y + y * w + x;
    const DeblockRamp *luma, *chroma;
    if (x > 0 && c.Ramps(m - 1, m, &luma, &chroma)) {
        FilterAcrossColumn(yTop, w, *luma);
        FilterAcrossColumn(yTop + 8 * w, w, *luma);
        const int offset = (y / 2) * cw + x / 2;
        FilterAcrossColumn(c.p.u + offset, cw, *chroma);
        FilterAcrossColumn(c.p.v + offset, cw, *chroma);
    }
    if (c.Ramps(m, m, &luma, &chroma)) {
        FilterAcrossColumn(yTop + 8, w, *luma);
        FilterAcrossColumn(yTop + 8 * w + 8, w, *luma);
    }
}

}  // namespace

const DeblockRamp& DeblockRampOf(int strength) {
    // 319 entries each: built once rather than per macroblock.
    static const std::array<DeblockRamp, 13> ramps = BuildRamps(std::make_index_sequence<13>());
    return ramps[static_cast<size_t>(std::clamp(strength, 0, 12))];
}

void FilterAcrossRow(uint8_t* below, int stride, const DeblockRamp& ramp) {
    for (int i = 0; i < 8; ++i) FilterPosition(below + i, stride, ramp);
}

void FilterAcrossColumn(uint8_t* right, int stride, const DeblockRamp& ramp) {
    for (int j = 0; j < 8; ++j) FilterPosition(right + j * stride, 1, ramp);
}

DeblockPlanes DeblockPlanesOf(uint8_t* data, int width, int height) {
    DeblockPlanes p;
    p.y = data;
    p.u = data + width * height;
    p.v = p.u + (width / 2) * (height / 2);
    p.width = width;
    p.height = height;
    return p;
}

void DeblockMacroblock(const DeblockPlanes& picture, const uint8_t* mbCoded, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant) {
    if (!picture.y || !picture.u || !picture.v || !mbCoded || !mbQuant) return;
    if (picture.width < 16 || picture.height < 16 || picture.width % 16 || picture.height % 16) return;
    const int mbPerRow = picture.width / 16;
    if (mbNumber < 0 || mbNumber >= mbPerRow * (picture.height / 16)) return;
    const Context c{picture, mbCoded, mbQuant, mbPerRow, modifiedQuant};
    const int x = 16 * (mbNumber % mbPerRow), y = 16 * (mbNumber / mbPerRow);
    HorizontalEdges(c, mbNumber, x, y);
    // The macroblock above now has all its horizontal edges (its bottom one just now) done.
    if (y > 0) VerticalEdges(c, mbNumber - mbPerRow, x, y - 16);
    if (y + 16 == picture.height) VerticalEdges(c, mbNumber, x, y);
}

}  // namespace r263com
