// Deblocking filter: strength and ramp, the filter of one edge, the edge selection by coded
// blocks, the macroblock-by-macroblock order against a whole-picture reference, and the agreement
// of the encoder's and the decoder's filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

// Both libraries have a header of this name; the paths pick each one.
#include "../../R263AVO/DeblockingFilter_Annex_J.h"
#include "../../R263IRI/DeblockingFilter_Annex_J.h"
#include "GetFunctions.h"
#include "Picture.h"
#include "Quant.h"

namespace avo = r263avo;
namespace iri = r263iri;

namespace {

TEST(DeblockStrength, TableAndRamp) {
    EXPECT_EQ(avo::DeblockStrength(1), 1);
    EXPECT_EQ(avo::DeblockStrength(8), 4);
    EXPECT_EQ(avo::DeblockStrength(10), 5);
    EXPECT_EQ(avo::DeblockStrength(31), 12);
    // The decoder filters with the same table: DeblockStrength clamps QUANT to 1..31.
    for (int q = 0; q < 32; ++q)
        EXPECT_EQ(avo::DeblockStrength(q), avo::DeblockStrengthTable[std::max(q, 1)]) << q;

    const avo::DeblockRamp ramp(4);
    const avo::DeblockRamp ramp2(avo::DeblockStrength(8));  // STRENGTH 4 from its QUANT
    const int expected[][2] = {{0, 0}, {3, 3},   {4, 4},   {5, 3},   {7, 1},
                               {8, 0}, {159, 0}, {-4, -4}, {-5, -3}, {-7, -1}};
    for (const auto& e : expected) {
        EXPECT_EQ(ramp(e[0]), e[1]) << e[0];
        EXPECT_EQ(ramp2(e[0]), e[1]) << e[0];
    }
}

// Four samples A, B | C, D across an edge, filtered as a column (horizontal edge) and as a row
// (vertical edge) by both libraries.
struct EdgeCase {
    int strength;
    int a, b, c, d;
    int fa, fb, fc, fd;
};

void CheckEdge(const EdgeCase& e) {
    SCOPED_TRACE(testing::Message() << "S " << e.strength << " " << e.a << " " << e.b << " | " << e.c << " "
                                    << e.d);
    const int expected[4] = {e.fa, e.fb, e.fc, e.fd};
    // Horizontal edge: 4 rows of 8 columns, stride 8, edge before row 2.
    std::vector<uint8_t> rows(32);
    for (int i = 0; i < 8; ++i) {
        rows[i] = static_cast<uint8_t>(e.a);
        rows[8 + i] = static_cast<uint8_t>(e.b);
        rows[16 + i] = static_cast<uint8_t>(e.c);
        rows[24 + i] = static_cast<uint8_t>(e.d);
    }
    std::vector<uint8_t> rows2 = rows;
    avo::FilterAcrossRow(rows.data() + 16, 8, avo::DeblockRamp(e.strength));
    avo::FilterAcrossRow(rows2.data() + 16, 8, avo::DeblockRamp(e.strength));
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(rows[8 * k + i], expected[k]);
            EXPECT_EQ(rows2[8 * k + i], expected[k]);
        }
    }
    // Vertical edge: 8 rows of 4 columns, stride 4, edge before column 2.
    std::vector<uint8_t> cols(32);
    for (int j = 0; j < 8; ++j) {
        cols[4 * j] = static_cast<uint8_t>(e.a);
        cols[4 * j + 1] = static_cast<uint8_t>(e.b);
        cols[4 * j + 2] = static_cast<uint8_t>(e.c);
        cols[4 * j + 3] = static_cast<uint8_t>(e.d);
    }
    std::vector<uint8_t> cols2 = cols;
    avo::FilterAcrossColumn(cols.data() + 2, 4, avo::DeblockRamp(e.strength));
    avo::FilterAcrossColumn(cols2.data() + 2, 4, avo::DeblockRamp(e.strength));
    for (int j = 0; j < 8; ++j) {
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(cols[4 * j + k], expected[k]);
            EXPECT_EQ(cols2[4 * j + k], expected[k]);
        }
    }
}

TEST(DeblockEdge, WorkedExamples) {
    const EdgeCase cases[] = {
        // QUANT 8, STRENGTH 4: d = 30 / 8 = 3, d1 = 3, (A - D) / 4 = -2 limited to -1.
        {4, 100, 100, 110, 110, 101, 103, 107, 109},
        // STRENGTH 1 (QUANT 1): |d| = 1 moves B and C by one, A and D stay.
        {1, 100, 100, 103, 103, 100, 101, 102, 103},
        {1, 100, 100, 97, 97, 100, 99, 98, 97},
        // |d| = 2 or more changes nothing at STRENGTH 1.
        {1, 100, 100, 106, 106, 100, 100, 106, 106},
        {1, 0, 0, 255, 255, 0, 0, 255, 255},
        // A flat edge stays.
        {12, 77, 77, 77, 77, 77, 77, 77, 77},
        // d = 108 / 8 = 13 ramps to 11 at STRENGTH 12; C - 11 is clipped to 0; d2 = 25 limited to 5.
        {12, 100, 0, 2, 0, 95, 11, 0, 5},
    };
    for (const EdgeCase& e : cases) CheckEdge(e);
}

// A picture of whole macroblocks with the encoder's view and the decoder's planar layout.
struct TestPicture {
    int width, height;
    std::vector<uint8_t> data;

    TestPicture(int w, int h) : width(w), height(h), data(static_cast<size_t>(w) * h * 3 / 2) {}
    avo::PictureView View() { return avo::MakePictureView(data.data(), width, height); }
    int MbPerRow() const { return width / 16; }
    int MbCount() const { return (width / 16) * (height / 16); }
};

// Blocks of a constant level each, with noise: block edges that the filter changes.
void FillBlocky(TestPicture& p, std::mt19937& rng, int noise, int levelSpread) {
    const int w = p.width, h = p.height;
    auto fillPlane = [&](uint8_t* plane, int pw, int ph) {
        std::vector<int> level(static_cast<size_t>((pw / 8) * (ph / 8)));
        for (int& l : level) l = 128 + static_cast<int>(rng() % (2 * levelSpread + 1)) - levelSpread;
        for (int y = 0; y < ph; ++y) {
            for (int x = 0; x < pw; ++x) {
                const int v = level[static_cast<size_t>((y / 8) * (pw / 8) + x / 8)] +
                              static_cast<int>(rng() % (2 * noise + 1)) - noise;
                plane[y * pw + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        }
    };
    fillPlane(p.data.data(), w, h);
    fillPlane(p.data.data() + w * h, w / 2, h / 2);
    fillPlane(p.data.data() + w * h + (w / 2) * (h / 2), w / 2, h / 2);
}

// Reference: every horizontal block edge of the picture first, then every vertical one, each
// with the strength of the macroblock that holds it (the macroblock below / right of the edge),
// filtered when one of the two blocks beside it is coded. Written position by position from the
// filter's definition.
int RefRamp(int d, int s) {
    const int m = std::abs(d);
    if (m <= s) return d;
    if (m < 2 * s) return d > 0 ? 2 * s - m : m - 2 * s;
    return 0;
}

void RefFilter(uint8_t* a, uint8_t* b, uint8_t* c, uint8_t* d, int s) {
    const int d1 = RefRamp((*a - 4 * *b + 4 * *c - *d) / 8, s);
    const int lim = std::abs(d1 / 2);
    const int d2 = std::clamp((*a - *d) / 4, -lim, lim);
    const int va = *a - d2, vb = *b + d1, vc = *c - d1, vd = *d + d2;
    *a = static_cast<uint8_t>(std::clamp(va, 0, 255));
    *b = static_cast<uint8_t>(std::clamp(vb, 0, 255));
    *c = static_cast<uint8_t>(std::clamp(vc, 0, 255));
    *d = static_cast<uint8_t>(std::clamp(vd, 0, 255));
}

// Flag of the 8x8 block covering sample (x, y) of a plane (luma when chroma < 0, else 4 or 5).
uint8_t BlockFlag(const std::vector<uint8_t>& flags, int mbPerRow, int x, int y, int chroma) {
    if (chroma >= 0) return flags[static_cast<size_t>(6 * ((y / 8) * mbPerRow + x / 8) + chroma)];
    const int mb = (y / 16) * mbPerRow + x / 16;
    return flags[static_cast<size_t>(6 * mb + 2 * ((y / 8) & 1) + ((x / 8) & 1))];
}

void ReferenceDeblock(TestPicture& p, const std::vector<uint8_t>& flags, const std::vector<int>& mbQuant,
                      bool mq) {
    const int n = p.MbPerRow();
    struct Plane {
        uint8_t* base;
        int w, h, chroma, mbSize;
    };
    const int w = p.width, h = p.height;
    const Plane planes[3] = {{p.data.data(), w, h, -1, 16},
                             {p.data.data() + w * h, w / 2, h / 2, 4, 8},
                             {p.data.data() + w * h + (w / 2) * (h / 2), w / 2, h / 2, 5, 8}};
    auto strength = [&](const Plane& pl, int x, int y) {
        const int q = mbQuant[static_cast<size_t>((y / pl.mbSize) * n + x / pl.mbSize)];
        return avo::DeblockStrength(pl.chroma >= 0 && mq ? iri::ChromaQuant(q) : q);
    };
    for (const Plane& pl : planes) {
        for (int y = 8; y < pl.h; y += 8) {
            for (int x = 0; x < pl.w; ++x) {
                if (!BlockFlag(flags, n, x, y - 8, pl.chroma) && !BlockFlag(flags, n, x, y, pl.chroma))
                    continue;
                uint8_t* c = pl.base + y * pl.w + x;
                RefFilter(c - 2 * pl.w, c - pl.w, c, c + pl.w, strength(pl, x, y));
            }
        }
    }
    for (const Plane& pl : planes) {
        for (int x = 8; x < pl.w; x += 8) {
            for (int y = 0; y < pl.h; ++y) {
                if (!BlockFlag(flags, n, x - 8, y, pl.chroma) && !BlockFlag(flags, n, x, y, pl.chroma))
                    continue;
                uint8_t* c = pl.base + y * pl.w + x;
                RefFilter(c - 2, c - 1, c, c + 1, strength(pl, x, y));
            }
        }
    }
}

void EncoderDeblockAll(TestPicture& p, const std::vector<uint8_t>& flags, int qp, bool mq) {
    for (int m = 0; m < p.MbCount(); ++m) {
        avo::DeblockMacroblock(p.View(), flags.data(), m, 16 * (m % p.MbPerRow()), 16 * (m / p.MbPerRow()),
                               qp, mq);
    }
}

void DecoderDeblockAll(TestPicture& p, const std::vector<uint8_t>& flags, const std::vector<uint8_t>& quant,
                       bool mq) {
    for (int m = 0; m < p.MbCount(); ++m) {
        iri::DeblockMacroblock(p.data.data(), p.width, p.height, flags.data(), quant.data(), m, mq);
    }
}

TEST(DeblockPicture, NoCodedBlocksLeaveThePictureUnchanged) {
    std::mt19937 rng(7);
    TestPicture p(64, 48);
    FillBlocky(p, rng, 2, 10);
    const std::vector<uint8_t> before = p.data;
    const std::vector<uint8_t> flags(static_cast<size_t>(6 * p.MbCount()), 0);
    EncoderDeblockAll(p, flags, 8, false);
    EXPECT_EQ(p.data, before);
    const std::vector<uint8_t> quant(static_cast<size_t>(p.MbCount()), 8);
    DecoderDeblockAll(p, flags, quant, true);
    EXPECT_EQ(p.data, before);
}

TEST(DeblockPicture, EdgeBetweenIntraAndNotCodedMacroblockIsFiltered) {
    // Two macroblocks side by side: left one flat 100, right one flat 110.
    TestPicture p(32, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) p.data[static_cast<size_t>(y * 32 + x)] = x < 16 ? 100 : 110;
    }
    std::fill(p.data.begin() + 32 * 16, p.data.end(), uint8_t{128});
    std::vector<uint8_t> flags(12, 0);
    std::fill(flags.begin() + 6, flags.end(), uint8_t{1});  // the right macroblock is INTRA
    EncoderDeblockAll(p, flags, 8, false);
    for (int y = 0; y < 16; ++y) {
        const uint8_t* row = p.data.data() + y * 32;
        EXPECT_EQ(row[14], 101);
        EXPECT_EQ(row[15], 103);
        EXPECT_EQ(row[16], 107);
        EXPECT_EQ(row[17], 109);
    }
}

TEST(DeblockPicture, PictureBordersAreNeverFiltered) {
    // In rows 0-1 and columns 0-1 of each plane (and the last two), the samples away from the inner
    // edges across them (positions 2..5 of each 8) are only reachable through an edge at the
    // picture border. A 2 x 2 macroblock picture with every block coded.
    std::mt19937 rng(11);
    TestPicture p(32, 32);
    FillBlocky(p, rng, 1, 6);
    const std::vector<uint8_t> before = p.data;
    const std::vector<uint8_t> flags(24, 1);
    const std::vector<uint8_t> quant(4, 31);
    TestPicture q = p;
    EncoderDeblockAll(p, flags, 31, false);
    DecoderDeblockAll(q, flags, quant, false);
    EXPECT_NE(p.data, before);
    auto check = [&](const std::vector<uint8_t>& after, size_t offset, int size) {
        for (int i = 0; i < size; ++i) {
            if (i % 8 < 2 || i % 8 > 5) continue;
            for (int k : {0, 1, size - 2, size - 1}) {
                const size_t row = offset + static_cast<size_t>(k * size + i);     // rows at the border
                const size_t column = offset + static_cast<size_t>(i * size + k);  // columns at the border
                EXPECT_EQ(after[row], before[row]) << "row " << k << " x " << i;
                EXPECT_EQ(after[column], before[column]) << "column " << k << " y " << i;
            }
        }
    };
    for (const auto* after : {&p.data, &q.data}) {
        check(*after, 0, 32);
        check(*after, 32 * 32, 16);
        check(*after, 32 * 32 + 16 * 16, 16);
    }
}

// Filtering macroblock by macroblock in coding order equals filtering every horizontal edge of
// the picture and then every vertical edge; encoder and decoder agree with it and each other.
TEST(DeblockPicture, MacroblockOrderEqualsWholePictureOrder) {
    std::mt19937 rng(2024);
    const int sizes[][2] = {{16, 16}, {64, 48}, {176, 144}, {48, 96}};
    for (int trial = 0; trial < 24; ++trial) {
        const int w = sizes[trial % 4][0], h = sizes[trial % 4][1];
        const int qp = 1 + static_cast<int>(rng() % 31);
        const bool mq = (trial / 4) % 2 != 0;
        SCOPED_TRACE(testing::Message() << w << "x" << h << " qp " << qp << " mq " << mq);
        TestPicture ref(w, h);
        FillBlocky(ref, rng, 3, 4 + qp);
        std::vector<uint8_t> flags(static_cast<size_t>(6 * ref.MbCount()));
        const int density = trial % 3;  // all coded, mixed, sparse
        for (uint8_t& f : flags) f = density == 0 ? 1 : (rng() % (density + 1) == 0 ? 1 : 0);
        TestPicture enc = ref, dec = ref;
        const std::vector<uint8_t> before = ref.data;

        ReferenceDeblock(ref, flags, std::vector<int>(static_cast<size_t>(ref.MbCount()), qp), mq);
        EncoderDeblockAll(enc, flags, qp, mq);
        DecoderDeblockAll(dec, flags, std::vector<uint8_t>(static_cast<size_t>(ref.MbCount()), uint8_t(qp)),
                          mq);
        if (qp >= 4) {
            EXPECT_NE(ref.data, before);
        }
        EXPECT_EQ(enc.data, ref.data);
        EXPECT_EQ(dec.data, ref.data);
    }
}

// With a QUANT per macroblock, the decoder filters every edge with the strength of the macroblock
// that holds it, including the vertical edges it filters one macroblock row late.
TEST(DeblockPicture, DecoderUsesTheQuantOfTheMacroblockHoldingTheEdge) {
    std::mt19937 rng(31);
    for (int trial = 0; trial < 8; ++trial) {
        TestPicture ref(64, 64);
        FillBlocky(ref, rng, 2, 20);
        std::vector<uint8_t> flags(static_cast<size_t>(6 * ref.MbCount()));
        for (uint8_t& f : flags) f = rng() % 3 != 0;
        std::vector<int> quant(static_cast<size_t>(ref.MbCount()));
        for (int& q : quant) q = 1 + static_cast<int>(rng() % 31);
        const std::vector<uint8_t> quant8(quant.begin(), quant.end());
        TestPicture dec = ref;
        const bool mq = trial % 2 != 0;
        ReferenceDeblock(ref, flags, quant, mq);
        DecoderDeblockAll(dec, flags, quant8, mq);
        EXPECT_EQ(dec.data, ref.data) << "trial " << trial;
    }
}

TEST(DeblockPicture, ChromaStrengthFollowsTheChromaQuantUnderAnnexT) {
    // QUANT 31: luma STRENGTH 12; with Annex T the chroma QUANT is 15, STRENGTH 7. A chroma step
    // of 100 | 127 gives d = 81 / 8 = 10: d1 = 10 at STRENGTH 12, 2 x 7 - 10 = 4 at STRENGTH 7.
    ASSERT_EQ(avo::ChromaQuant(31, true), 15);
    struct Case {
        bool mq;
        int a, b, c, d;
    } cases[] = {{false, 105, 110, 117, 122}, {true, 102, 104, 123, 125}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.mq);
        TestPicture enc(16, 32);
        std::fill(enc.data.begin(), enc.data.end(), uint8_t{0});
        uint8_t* cb = enc.data.data() + 16 * 32;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 8; ++x) cb[y * 8 + x] = y < 8 ? 100 : 127;
        }
        TestPicture dec = enc;
        const std::vector<uint8_t> flags(12, 1);
        const std::vector<uint8_t> quant(2, 31);
        avo::DeblockMacroblock(enc.View(), flags.data(), 1, 0, 16, 31, k.mq);
        iri::DeblockMacroblock(dec.data.data(), 16, 32, flags.data(), quant.data(), 1, k.mq);
        for (const TestPicture* p : {&enc, &dec}) {
            const uint8_t* u = p->data.data() + 16 * 32;
            for (int x = 0; x < 8; ++x) {
                EXPECT_EQ(u[6 * 8 + x], k.a);
                EXPECT_EQ(u[7 * 8 + x], k.b);
                EXPECT_EQ(u[8 * 8 + x], k.c);
                EXPECT_EQ(u[9 * 8 + x], k.d);
            }
        }
    }
}

}  // namespace
