// Interpolation against a direct statement of its rules, and the macroblock pixel operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "R263AVO/BlockOperations.h"
#include "R263AVO/Interpolation.h"
#include "R263AVO/MBlockOperations.h"
#include "R263AVO/Picture.h"

namespace {

using r263avo::InterpAt;
using r263avo::kInterpMargin;

std::vector<uint8_t> Pseudorandom(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return v;
}

std::vector<uint8_t> RunInterpolation(bool simd, const std::vector<uint8_t>& luma, int w, int h, bool fill) {
    std::vector<uint8_t> out(static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h), 0x5a);
    if (simd)
        r263avo::InterpolatePicture(luma.data(), w, h, out.data(), fill);
    else
        r263avo::InterpolatePictureC(luma.data(), w, h, out.data(), fill);
    return out;
}

// The half-pel sample (u, v) written out rule by rule: interior, last column, last row, corner.
int Expected(const std::vector<uint8_t>& p, int w, int h, int u, int v) {
    const int i = u / 2, j = v / 2;
    const bool hx = u % 2, hy = v % 2;
    const auto at = [&](int a, int b) { return static_cast<int>(p[b * w + a]); };
    const bool lastCol = i == w - 1, lastRow = j == h - 1;
    if (lastCol && lastRow) return at(i, j);
    if (lastCol) return hy ? (at(i, j) + at(i, j + 1) + 1) >> 1 : at(i, j);
    if (lastRow) return hx ? (at(i, j) + at(i + 1, j) + 1) >> 1 : at(i, j);
    if (!hx && !hy) return at(i, j);
    if (hx && !hy) return (at(i, j) + at(i + 1, j) + 1) >> 1;
    if (!hx && hy) return (at(i, j) + at(i, j + 1) + 1) >> 1;
    return (at(i, j) + at(i + 1, j) + at(i, j + 1) + at(i + 1, j + 1) + 2) >> 2;
}

TEST(Interpolation, EdgeRulesOnSmallPictures) {
    struct Size {
        int w, h;
    };
    for (const Size s : {Size{5, 4}, Size{16, 16}, Size{32, 3}, Size{2, 2}}) {
        const auto luma = Pseudorandom(s.w * s.h, 7u + s.w);
        for (bool simd : {false, true}) {
            const auto out = RunInterpolation(simd, luma, s.w, s.h, false);
            for (int v = 0; v < 2 * s.h; ++v)
                for (int u = 0; u < 2 * s.w; ++u)
                    ASSERT_EQ(*InterpAt(out.data(), s.w, u, v), Expected(luma, s.w, s.h, u, v))
                        << s.w << "x" << s.h << " at " << u << "," << v << (simd ? " dispatched" : " C");
        }
    }
}

TEST(Interpolation, ConstantPictureStaysConstantMarginsIncluded) {
    const int w = 48, h = 32;
    for (uint8_t value : {0, 77, 255}) {
        const auto out = RunInterpolation(true, std::vector<uint8_t>(w * h, value), w, h, true);
        for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], value) << k;
    }
}

TEST(Interpolation, MarginFillRepeatsTheEdgeSamples) {
    const int w = 32, h = 16;
    const auto luma = Pseudorandom(w * h, 99);
    const auto out = RunInterpolation(true, luma, w, h, true);
    const uint8_t* b = out.data();
    for (int v = -kInterpMargin; v < 2 * h + kInterpMargin; ++v) {
        const int cv = std::clamp(v, 0, 2 * h - 1);
        for (int u = -kInterpMargin; u < 2 * w + kInterpMargin; ++u) {
            const int cu = std::clamp(u, 0, 2 * w - 1);
            ASSERT_EQ(*InterpAt(b, w, u, v), *InterpAt(b, w, cu, cv)) << u << "," << v;
        }
    }
}

TEST(Interpolation, PaddedChromaPlaneRepeatsEdges) {
    const int w = 8, h = 6, m = r263avo::kChromaMargin, stride = w + 2 * m;
    const auto plane = Pseudorandom(w * h, 5);
    std::vector<uint8_t> out(r263avo::PaddedChromaSize(w, h), 0);
    r263avo::PadChromaPlane(plane.data(), w, h, out.data());
    for (int j = -m; j < h + m; ++j)
        for (int i = -m; i < w + m; ++i)
            ASSERT_EQ(out[(j + m) * stride + i + m],
                      plane[std::clamp(j, 0, h - 1) * w + std::clamp(i, 0, w - 1)]);
}

TEST(ChromaVector, WholePartAndHalfFlag) {
    struct Case {
        int luma, whole;
        bool half;
    };
    const Case cases[] = {{0, 0, false},   {1, 0, true},   {2, 0, true},    {3, 0, true},    {4, 1, false},
                          {5, 1, true},    {-1, -1, true}, {-2, -1, true},  {-4, -1, false}, {-5, -2, true},
                          {-8, -2, false}, {31, 7, true},  {-32, -8, false}};
    for (const Case& c : cases) {
        const auto got = r263avo::ChromaComponent(c.luma);
        EXPECT_EQ(got.whole, c.whole) << c.luma;
        EXPECT_EQ(got.half, c.half) << c.luma;
    }
}

// A W x H 4:2:0 picture in one buffer.
struct Picture {
    int w, h;
    std::vector<uint8_t> data;
    Picture(int width, int height, std::vector<uint8_t> bytes)
        : w(width), h(height), data(std::move(bytes)) {}
    Picture(int width, int height, uint8_t fill)
        : Picture(width, height, std::vector<uint8_t>(width * height * 3 / 2, fill)) {}
    r263avo::PictureView View() { return r263avo::MakePictureView(data.data(), w, h); }
};

class MacroblockOps : public ::testing::Test {
  protected:
    static constexpr int kW = 64, kH = 48;
    MacroblockOps()
        : cur_(kW, kH, Pseudorandom(kW * kH * 3 / 2, 1)),
          ref_(kW, kH, Pseudorandom(kW * kH * 3 / 2, 2)),
          interp_(RunInterpolation(true, ref_.data, kW, kH, true)) {}

    Picture cur_, ref_;
    std::vector<uint8_t> interp_;
    uint8_t pred_[r263avo::kPredBytes];
    int16_t blocks_[6][64];
};

TEST_F(MacroblockOps, InterPredictionFetchesLumaAndFiltersChroma) {
    struct Case {
        int x, y, mx, my;
    };
    const Case cases[] = {{16, 16, 0, 0}, {16, 16, 3, -5}, {0, 0, 1, 1},      {48, 32, -7, -2},
                          {32, 16, 6, 9}, {48, 0, -33, 4}, {16, 32, -1, -31}, {0, 16, 2, -3}};
    const auto refView = ref_.View();
    const auto curView = cur_.View();
    for (const Case& t : cases) {
        r263avo::FormInterPrediction(curView, refView, t.x, t.y, t.mx, t.my, pred_, blocks_);
        for (int j = 0; j < 16; ++j) {
            for (int i = 0; i < 16; ++i) {
                const int p = *InterpAt(interp_.data(), kW, 2 * t.x + t.mx + 2 * i, 2 * t.y + t.my + 2 * j);
                ASSERT_EQ(pred_[j * 16 + i], p);
                const int b = (j / 8) * 2 + i / 8;
                ASSERT_EQ(blocks_[b][(j % 8) * 8 + i % 8], curView.y[(t.y + j) * kW + t.x + i] - p);
            }
        }
        // Chroma: floor(m / 4) whole samples plus a half step when m is not a multiple of 4.
        const int cw = kW / 2;
        const int wx = t.mx >> 2, wy = t.my >> 2, hx = (t.mx & 3) ? 1 : 0, hy = (t.my & 3) ? 1 : 0;
        for (int c = 0; c < 2; ++c) {
            const uint8_t* plane = c == 0 ? refView.u : refView.v;
            const uint8_t* curPlane = c == 0 ? curView.u : curView.v;
            for (int j = 0; j < 8; ++j) {
                for (int i = 0; i < 8; ++i) {
                    const int px = t.x / 2 + wx + i, py = t.y / 2 + wy + j;
                    const int a = plane[py * cw + px], b = plane[py * cw + px + hx];
                    const int cc = plane[(py + hy) * cw + px], d = plane[(py + hy) * cw + px + hx];
                    const int expected = hx && hy ? (a + b + cc + d + 2) >> 2
                                         : hx     ? (a + b + 1) >> 1
                                         : hy     ? (a + cc + 1) >> 1
                                                  : a;
                    const int got = pred_[256 + 64 * c + j * 8 + i];
                    ASSERT_EQ(got, expected) << "case " << t.mx << "," << t.my << " plane " << c;
                    ASSERT_EQ(blocks_[4 + c][j * 8 + i], curPlane[(t.y / 2 + j) * cw + t.x / 2 + i] - got);
                }
            }
        }
    }
}

TEST_F(MacroblockOps, VectorsLeavingThePictureAreClampedToItsEdge) {
    uint8_t clamped[r263avo::kPredBytes];
    int16_t scratch[6][64];
    // (48, 32) is the bottom-right macroblock: anything right or below is outside.
    r263avo::FormInterPrediction(cur_.View(), ref_.View(), 48, 32, 0, 0, clamped, scratch);
    r263avo::FormInterPrediction(cur_.View(), ref_.View(), 48, 32, 40, 61, pred_, blocks_);
    EXPECT_EQ(std::memcmp(pred_, clamped, sizeof pred_), 0);
    r263avo::FormInterPrediction(cur_.View(), ref_.View(), 0, 0, 0, 0, clamped, scratch);
    r263avo::FormInterPrediction(cur_.View(), ref_.View(), 0, 0, -1000, -3, pred_, blocks_);
    EXPECT_EQ(std::memcmp(pred_, clamped, sizeof pred_), 0);
}

TEST_F(MacroblockOps, AddBlockClipsAndTouchesOnlyItsBlock) {
    for (int b = 0; b < 6; ++b) {
        Picture rec(kW, kH, 0x11);
        std::fill(std::begin(pred_), std::end(pred_), 250);
        for (int k = 0; k < r263avo::kPredBytes; k += 2) pred_[k] = 3;
        int16_t block[64];
        for (int k = 0; k < 64; ++k) block[k] = (k % 2) ? 20 : -10;  // 250 + 20 and 3 - 10
        const int x = 16, y = 16;
        r263avo::AddBlockToPrediction(rec.View(), x, y, b, pred_, block);
        const auto view = rec.View();
        size_t changed = 0;
        for (uint8_t s : rec.data) changed += s != 0x11;
        EXPECT_EQ(changed, 64u) << "block " << b;
        const uint8_t* plane = b < 4 ? view.y : (b == 4 ? view.u : view.v);
        const int stride = b < 4 ? kW : kW / 2;
        const int ox = b < 4 ? x + (b & 1) * 8 : x / 2, oy = b < 4 ? y + (b >> 1) * 8 : y / 2;
        for (int k = 0; k < 64; ++k)
            EXPECT_EQ(plane[(oy + k / 8) * stride + ox + k % 8], (k % 2) ? 255 : 0)
                << "block " << b << " " << k;
    }
}

TEST_F(MacroblockOps, IntraLoadWriteRoundTripAndClip) {
    r263avo::LoadIntraMacroblock(cur_.View(), 32, 16, blocks_);
    Picture rec(kW, kH, 0);
    r263avo::WriteIntraMacroblock(rec.View(), 32, 16, blocks_);
    uint8_t fromCur[r263avo::kPredBytes], fromRec[r263avo::kPredBytes];
    // Compare the macroblock samples through a zero-vector prediction of each picture.
    int16_t scratch[6][64];
    r263avo::FormInterPrediction(cur_.View(), cur_.View(), 32, 16, 0, 0, fromCur, scratch);
    r263avo::FormInterPrediction(rec.View(), rec.View(), 32, 16, 0, 0, fromRec, scratch);
    EXPECT_EQ(std::memcmp(fromCur, fromRec, sizeof fromCur), 0);
    for (int k = 0; k < 64; ++k) EXPECT_GE(blocks_[0][k], 0);

    blocks_[0][0] = -5;
    blocks_[5][63] = 300;
    r263avo::WriteIntraMacroblock(rec.View(), 32, 16, blocks_);
    EXPECT_EQ(rec.View().y[16 * kW + 32], 0);
    EXPECT_EQ(rec.View().v[(8 + 7) * (kW / 2) + 16 + 7], 255);
}

TEST_F(MacroblockOps, CopyPredictionPlacesEveryBlock) {
    for (int k = 0; k < r263avo::kPredBytes; ++k) pred_[k] = static_cast<uint8_t>(k * 7);
    Picture rec(kW, kH, 0);
    r263avo::CopyPredictionMacroblock(rec.View(), 16, 32, pred_);
    const auto view = rec.View();
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i) ASSERT_EQ(view.y[(32 + j) * kW + 16 + i], pred_[j * 16 + i]);
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(view.u[(16 + j) * (kW / 2) + 8 + i], pred_[256 + j * 8 + i]);
            ASSERT_EQ(view.v[(16 + j) * (kW / 2) + 8 + i], pred_[320 + j * 8 + i]);
        }
    }
    size_t written = 0;
    for (uint8_t s : rec.data) written += s != 0;
    EXPECT_LE(written, 384u);
}

}  // namespace
