// Deblocking filter (Annex J), encoder side.
#include "DeblockingFilter_Annex_J.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

#include "Quant.h"

namespace r263avo {

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

// The ramps of every strength (0..12), built once: a ramp is 319 entries, too many to build for
// each macroblock.
template <size_t... S>
std::array<DeblockRamp, sizeof...(S)> BuildRamps(std::index_sequence<S...>) {
    return {DeblockRamp(static_cast<int>(S))...};
}

const DeblockRamp& RampOf(int strength) {
    static const std::array<DeblockRamp, 13> ramps = BuildRamps(std::make_index_sequence<13>());
    return ramps[static_cast<size_t>(strength)];
}

// The luma and chroma ramps for one QUANT: chroma uses the chroma QUANT under Annex T.
struct Ramps {
    const DeblockRamp& luma;
    const DeblockRamp& chroma;

    Ramps(int quant, bool modifiedQuant)
        : luma(RampOf(DeblockStrength(quant))),
          chroma(
              RampOf(DeblockStrength(modifiedQuant ? ChromaQuant(std::clamp(quant, 1, 31), true) : quant))) {}
};

struct Planes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int width;  // luma stride
    int mbPerRow;
};

// Horizontal edges of the macroblock `m` at (x, y): the top edges (not in the first row) and the
// inner luma edges.
void HorizontalEdges(const Planes& p, const uint8_t* flags, int m, int x, int y, const Ramps& r) {
    const uint8_t* cur = flags + 6 * m;
    const int w = p.width, cw = p.width / 2;
    uint8_t* yTop = p.y + y * w + x;
    if (y > 0) {
        const uint8_t* up = flags + 6 * (m - p.mbPerRow);
        if (cur[0] || up[2]) FilterAcrossRow(yTop, w, r.luma);
        if (cur[1] || up[3]) FilterAcrossRow(yTop + 8, w, r.luma);
    }
    if (cur[0] || cur[2]) FilterAcrossRow(yTop + 8 * w, w, r.luma);
    if (cur[1] || cur[3]) FilterAcrossRow(yTop + 8 * w + 8, w, r.luma);
    if (y > 0) {
        const uint8_t* up = flags + 6 * (m - p.mbPerRow);
        const int offset = (y / 2) * cw + x / 2;
        if (cur[4] || up[4]) FilterAcrossRow(p.u + offset, cw, r.chroma);
        if (cur[5] || up[5]) FilterAcrossRow(p.v + offset, cw, r.chroma);
    }
}

// Vertical edges of the macroblock `m` at (x, y): the left edges (not in the first column) and
// the inner luma edges.
void VerticalEdges(const Planes& p, const uint8_t* flags, int m, int x, int y, const Ramps& r) {
    const uint8_t* cur = flags + 6 * m;
    const uint8_t* lf = flags + 6 * (m - 1);  // read only when x > 0
    const int w = p.width, cw = p.width / 2;
    uint8_t* yTop = p.y + y * w + x;
    if (x > 0 && (cur[0] || lf[1])) FilterAcrossColumn(yTop, w, r.luma);
    if (cur[0] || cur[1]) FilterAcrossColumn(yTop + 8, w, r.luma);
    if (x > 0 && (cur[2] || lf[3])) FilterAcrossColumn(yTop + 8 * w, w, r.luma);
    if (cur[2] || cur[3]) FilterAcrossColumn(yTop + 8 * w + 8, w, r.luma);
    if (x > 0) {
        const int offset = (y / 2) * cw + x / 2;
        if (cur[4] || lf[4]) FilterAcrossColumn(p.u + offset, cw, r.chroma);
        if (cur[5] || lf[5]) FilterAcrossColumn(p.v + offset, cw, r.chroma);
    }
}

// The edges that macroblock m at (x, y) completes, in a picture `height` rows high: `own` for its
// edges, `above` for the vertical edges of the macroblock above.
void FilterCompletedEdges(const Planes& p, const uint8_t* flags, int m, int x, int y, int height,
                          const Ramps& own, const Ramps& above) {
    HorizontalEdges(p, flags, m, x, y, own);
    // The macroblock above now has all its horizontal edges (its bottom one just now) done.
    if (y > 0) VerticalEdges(p, flags, m - p.mbPerRow, x, y - 16, above);
    if (y + 16 == height) VerticalEdges(p, flags, m, x, y, own);
}

}  // namespace

void FilterAcrossRow(uint8_t* below, int stride, const DeblockRamp& ramp) {
    for (int i = 0; i < 8; ++i) FilterPosition(below + i, stride, ramp);
}

void FilterAcrossColumn(uint8_t* right, int stride, const DeblockRamp& ramp) {
    for (int j = 0; j < 8; ++j) FilterPosition(right + j * stride, 1, ramp);
}

void DeblockMacroblock(const PictureView& picture, const uint8_t* codedBlockFlags, int mbNumber, int x, int y,
                       int qp, bool modifiedQuant) {
    if (!picture.y || !codedBlockFlags || picture.width < 16 || picture.height < 16) return;
    if (x < 0 || y < 0 || x + 16 > picture.width || y + 16 > picture.height || (x | y) % 16 != 0) return;
    const Planes p{picture.y, picture.u, picture.v, picture.width, picture.width / 16};
    // A number that does not match the position would read the flags of another macroblock.
    if (mbNumber != (y / 16) * p.mbPerRow + x / 16) return;
    const Ramps ramps(qp, modifiedQuant);
    FilterCompletedEdges(p, codedBlockFlags, mbNumber, x, y, picture.height, ramps, ramps);
}

void DeblockMacroblock(const PictureView& picture, const uint8_t* codedBlockFlags, const uint8_t* mbQuant,
                       int mbNumber, bool modifiedQuant) {
    if (!picture.y || !codedBlockFlags || !mbQuant || picture.width < 16 || picture.height < 16) return;
    if (picture.width % 16 != 0 || picture.height % 16 != 0) return;
    const Planes p{picture.y, picture.u, picture.v, picture.width, picture.width / 16};
    if (mbNumber < 0 || mbNumber >= p.mbPerRow * (picture.height / 16)) return;
    const int x = 16 * (mbNumber % p.mbPerRow), y = 16 * (mbNumber / p.mbPerRow);
    const Ramps own(mbQuant[mbNumber], modifiedQuant);
    const Ramps above(mbQuant[y > 0 ? mbNumber - p.mbPerRow : mbNumber], modifiedQuant);
    FilterCompletedEdges(p, codedBlockFlags, mbNumber, x, y, picture.height, own, above);
}

}  // namespace r263avo
