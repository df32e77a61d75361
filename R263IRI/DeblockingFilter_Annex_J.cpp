// Deblocking filter (Annex J), decoder side.
#include "DeblockingFilter_Annex_J.h"

#include <algorithm>
#include <cstdlib>

#include "GetFunctions.h"
#include "Idct.h"

namespace r263iri {

// H.263 Table J.2.
const uint8_t kDeblockStrength[32] = {0, 1, 1, 2, 2, 3, 3, 4,  4,  4,  5,  5,  6,  6,  7,  7,
                                      7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12, 12, 12};

int DeblockStrength(int quant) {
    return kDeblockStrength[std::clamp(quant, 1, 31)];
}

DeblockRamp::DeblockRamp(int strength) {
    for (int d = -kMaxD; d <= kMaxD; ++d) {
        const int magnitude = std::abs(d);
        int value = 0;
        if (magnitude <= strength) {
            value = d;
        } else if (magnitude < 2 * strength) {
            value = (d < 0 ? -1 : 1) * (2 * strength - magnitude);
        }
        table[d + kMaxD] = static_cast<int16_t>(value);
    }
}

namespace {

// A, B before the edge and C, D after it, `step` apart; `c` points at C.
inline void FilterAcross(uint8_t* c, int step, const DeblockRamp& ramp) {
    const int a = c[-2 * step], b = c[-step], cc = c[0], dd = c[step];
    const int d1 = ramp((a - 4 * b + 4 * cc - dd) / 8);
    const int limit = std::abs(d1 / 2);
    const int d2 = std::clamp((a - dd) / 4, -limit, limit);
    c[-2 * step] = ClipSample(a - d2);
    c[-step] = ClipSample(b + d1);
    c[0] = ClipSample(cc - d1);
    c[step] = ClipSample(dd + d2);
}

struct Store {
    uint8_t* y;
    uint8_t* cb;
    uint8_t* cr;
    int width;
    int mbPerRow;
    const uint8_t* flags;
};

struct Ramps {
    DeblockRamp luma;
    DeblockRamp chroma;

    Ramps(int quant, bool modifiedQuant)
        : luma(DeblockStrength(quant)),
          chroma(modifiedQuant ? DeblockStrength(ChromaQuant(std::clamp(quant, 1, 31)))
                               : DeblockStrength(quant)) {}
};

void HorizontalEdges(const Store& s, int m, const Ramps& r) {
    const int column = m % s.mbPerRow, row = m / s.mbPerRow;
    const int w = s.width, cw = s.width / 2;
    const uint8_t* f = s.flags + 6 * m;
    uint8_t* luma = s.y + (16 * row) * w + 16 * column;
    const uint8_t* up = s.flags + 6 * (m - s.mbPerRow);  // read only below the top row
    if (row > 0 && (f[0] || up[2])) FilterHorizontalEdge(luma, w, r.luma);
    if (row > 0 && (f[1] || up[3])) FilterHorizontalEdge(luma + 8, w, r.luma);
    if (f[0] || f[2]) FilterHorizontalEdge(luma + 8 * w, w, r.luma);
    if (f[1] || f[3]) FilterHorizontalEdge(luma + 8 * w + 8, w, r.luma);
    if (row > 0) {
        const int offset = (8 * row) * cw + 8 * column;
        if (f[4] || up[4]) FilterHorizontalEdge(s.cb + offset, cw, r.chroma);
        if (f[5] || up[5]) FilterHorizontalEdge(s.cr + offset, cw, r.chroma);
    }
}

void VerticalEdges(const Store& s, int m, const Ramps& r) {
    const int column = m % s.mbPerRow, row = m / s.mbPerRow;
    const int w = s.width, cw = s.width / 2;
    const uint8_t* f = s.flags + 6 * m;
    const uint8_t* lf = s.flags + 6 * (m - 1);  // read only right of column 0
    uint8_t* luma = s.y + (16 * row) * w + 16 * column;
    if (column > 0 && (f[0] || lf[1])) FilterVerticalEdge(luma, w, r.luma);
    if (f[0] || f[1]) FilterVerticalEdge(luma + 8, w, r.luma);
    if (column > 0 && (f[2] || lf[3])) FilterVerticalEdge(luma + 8 * w, w, r.luma);
    if (f[2] || f[3]) FilterVerticalEdge(luma + 8 * w + 8, w, r.luma);
    if (column > 0) {
        const int offset = (8 * row) * cw + 8 * column;
        if (f[4] || lf[4]) FilterVerticalEdge(s.cb + offset, cw, r.chroma);
        if (f[5] || lf[5]) FilterVerticalEdge(s.cr + offset, cw, r.chroma);
    }
}

}  // namespace

void FilterHorizontalEdge(uint8_t* below, int stride, const DeblockRamp& ramp) {
    for (int i = 0; i < 8; ++i) FilterAcross(below + i, stride, ramp);
}

void FilterVerticalEdge(uint8_t* right, int stride, const DeblockRamp& ramp) {
    for (int j = 0; j < 8; ++j) FilterAcross(right + j * stride, 1, ramp);
}

void DeblockMacroblock(uint8_t* picture, int width, int height, const uint8_t* codedFlags,
                       const uint8_t* mbQuant, int mbNumber, bool modifiedQuant) {
    if (!picture || !codedFlags || !mbQuant || width < 16 || height < 16 || width % 16 || height % 16) return;
    const int mbPerRow = width / 16, mbRows = height / 16;
    if (mbNumber < 0 || mbNumber >= mbPerRow * mbRows) return;
    uint8_t* cb = picture + width * height;
    const Store s{picture, cb, cb + (width / 2) * (height / 2), width, mbPerRow, codedFlags};
    const int row = mbNumber / mbPerRow;

    const Ramps own(mbQuant[mbNumber], modifiedQuant);
    HorizontalEdges(s, mbNumber, own);
    if (row > 0) {
        const int above = mbNumber - mbPerRow;
        if (mbQuant[above] == mbQuant[mbNumber]) {
            VerticalEdges(s, above, own);
        } else {
            VerticalEdges(s, above, Ramps(mbQuant[above], modifiedQuant));
        }
    }
    if (row == mbRows - 1) VerticalEdges(s, mbNumber, own);
}

}  // namespace r263iri
