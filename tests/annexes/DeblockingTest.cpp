// Deblocking filter: strength and ramp, the filter of one edge, the edge selection and QUANT
// choice by macroblock, the macroblock-by-macroblock order against a whole-picture reference, and
// the agreement of the encoder's and the decoder's sides of the shared filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

// The shared filter and both libraries' sides of it have headers of this name; the paths pick
// each one.
#include "R263AVO/DeblockingFilter_Annex_J.h"
#include "R263COM/DeblockingFilter_Annex_J.h"
#include "R263COM/QuantTables.h"
#include "R263IRI/DeblockingFilter_Annex_J.h"
#include "R263AVO/Picture.h"

namespace avo = r263avo;
namespace com = r263com;
namespace iri = r263iri;

namespace {

TEST(DeblockStrength, TableAndRamp) {
    EXPECT_EQ(com::DeblockStrength(1), 1);
    EXPECT_EQ(com::DeblockStrength(8), 4);
    EXPECT_EQ(com::DeblockStrength(10), 5);
    EXPECT_EQ(com::DeblockStrength(31), 12);
    // The decoder filters with the same table: DeblockStrength clamps QUANT to 1..31.
    for (int q = 0; q < 32; ++q)
        EXPECT_EQ(com::DeblockStrength(q), com::DeblockStrengthTable[std::max(q, 1)]) << q;

    const com::DeblockRamp ramp(4);
    const com::DeblockRamp ramp2(com::DeblockStrength(8));  // STRENGTH 4 from its QUANT
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
    com::FilterAcrossRow(rows.data() + 16, 8, com::DeblockRamp(e.strength));
    com::FilterAcrossRow(rows2.data() + 16, 8, com::DeblockRamp(e.strength));
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
    com::FilterAcrossColumn(cols.data() + 2, 4, com::DeblockRamp(e.strength));
    com::FilterAcrossColumn(cols2.data() + 2, 4, com::DeblockRamp(e.strength));
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

// Reference: every horizontal block edge of the picture first, then every vertical one, written
// position by position from the filter's definition. The edge between block1 (above / left) and
// block2 (below / right) is filtered when one of their macroblocks is coded, with the QUANT of
// block2's macroblock when that one is coded and block1's otherwise.
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

void ReferenceDeblock(TestPicture& p, const std::vector<uint8_t>& coded, const std::vector<int>& mbQuant,
                      bool mq) {
    const int n = p.MbPerRow();
    struct Plane {
        uint8_t* base;
        int w, h, mbSize;
        bool chroma;
    };
    const int w = p.width, h = p.height;
    const Plane planes[3] = {{p.data.data(), w, h, 16, false},
                             {p.data.data() + w * h, w / 2, h / 2, 8, true},
                             {p.data.data() + w * h + (w / 2) * (h / 2), w / 2, h / 2, 8, true}};
    // The strength for the edge between the samples (x1, y1) and (x2, y2), or -1: not filtered.
    auto strength = [&](const Plane& pl, int x1, int y1, int x2, int y2) {
        const size_t m1 = static_cast<size_t>((y1 / pl.mbSize) * n + x1 / pl.mbSize);
        const size_t m2 = static_cast<size_t>((y2 / pl.mbSize) * n + x2 / pl.mbSize);
        if (!coded[m1] && !coded[m2]) return -1;
        const int q = coded[m2] ? mbQuant[m2] : mbQuant[m1];
        return com::DeblockStrength(pl.chroma && mq ? com::ChromaQuant(q, true) : q);
    };
    for (const Plane& pl : planes) {
        for (int y = 8; y < pl.h; y += 8) {
            for (int x = 0; x < pl.w; ++x) {
                const int s = strength(pl, x, y - 8, x, y);
                if (s < 0) continue;
                uint8_t* c = pl.base + y * pl.w + x;
                RefFilter(c - 2 * pl.w, c - pl.w, c, c + pl.w, s);
            }
        }
    }
    for (const Plane& pl : planes) {
        for (int x = 8; x < pl.w; x += 8) {
            for (int y = 0; y < pl.h; ++y) {
                const int s = strength(pl, x - 8, y, x, y);
                if (s < 0) continue;
                uint8_t* c = pl.base + y * pl.w + x;
                RefFilter(c - 2, c - 1, c, c + 1, s);
            }
        }
    }
}

// The encoder's side: records each macroblock's state as it goes.
void EncoderDeblockAll(TestPicture& p, const std::vector<uint8_t>& coded, const std::vector<int>& quant,
                       bool mq) {
    std::vector<uint8_t> mbCoded(coded.size(), 1), mbQuant(coded.size(), 1);
    for (int m = 0; m < p.MbCount(); ++m) {
        avo::DeblockMacroblock(p.View(), mbCoded.data(), mbQuant.data(), m, coded[static_cast<size_t>(m)] != 0,
                               quant[static_cast<size_t>(m)], mq);
    }
}

void DecoderDeblockAll(TestPicture& p, const std::vector<uint8_t>& coded, const std::vector<int>& quant,
                       bool mq) {
    const std::vector<uint8_t> quant8(quant.begin(), quant.end());
    for (int m = 0; m < p.MbCount(); ++m) {
        iri::DeblockMacroblock(p.data.data(), p.width, p.height, coded.data(), quant8.data(), m, mq);
    }
}

TEST(DeblockPicture, NoCodedMacroblocksLeaveThePictureUnchanged) {
    std::mt19937 rng(7);
    TestPicture p(64, 48);
    FillBlocky(p, rng, 2, 10);
    const std::vector<uint8_t> before = p.data;
    const std::vector<uint8_t> coded(static_cast<size_t>(p.MbCount()), 0);
    const std::vector<int> quant(static_cast<size_t>(p.MbCount()), 8);
    EncoderDeblockAll(p, coded, quant, false);
    EXPECT_EQ(p.data, before);
    DecoderDeblockAll(p, coded, quant, true);
    EXPECT_EQ(p.data, before);
}

// Two macroblocks side by side, 100 | 114 across the edge between them; one of them coded with
// QUANT 8 (STRENGTH 4), the other skipped with QUANT 31 (STRENGTH 12). The edge is filtered with
// the coded one's QUANT (d = 42 / 8 = 5 ramps to 3 at STRENGTH 4, would stay 5 at 12); a small
// step across the skipped one's inner edge stays.
TEST(DeblockPicture, EdgeBetweenCodedAndSkippedMacroblockTakesTheCodedQuant) {
    for (int codedSide = 0; codedSide < 2; ++codedSide) {
        SCOPED_TRACE(codedSide == 0 ? "left coded" : "right coded");
        TestPicture p(32, 16);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 32; ++x) {
                int v = x < 16 ? 100 : 114;
                if (codedSide == 0 && x >= 24) v = 118;  // step inside the skipped right macroblock
                if (codedSide == 1 && x < 8) v = 96;     // step inside the skipped left macroblock
                p.data[static_cast<size_t>(y * 32 + x)] = static_cast<uint8_t>(v);
            }
        }
        std::fill(p.data.begin() + 32 * 16, p.data.end(), uint8_t{128});
        std::vector<uint8_t> coded{0, 0};
        coded[static_cast<size_t>(codedSide)] = 1;
        std::vector<int> quant{31, 31};
        quant[static_cast<size_t>(codedSide)] = 8;
        TestPicture q = p;
        EncoderDeblockAll(p, coded, quant, false);
        DecoderDeblockAll(q, coded, quant, false);
        EXPECT_EQ(p.data, q.data);
        for (int y = 0; y < 16; ++y) {
            const uint8_t* row = p.data.data() + y * 32;
            EXPECT_EQ(row[14], 101);
            EXPECT_EQ(row[15], 103);
            EXPECT_EQ(row[16], 111);
            EXPECT_EQ(row[17], 113);
            if (codedSide == 0) {
                EXPECT_EQ(row[23], 114);
                EXPECT_EQ(row[24], 118);
            } else {
                EXPECT_EQ(row[7], 96);
                EXPECT_EQ(row[8], 100);
            }
        }
    }
}

// A coded macroblock filters its inner edges whatever its coded block pattern: the edges inside an
// INTER macroblock without coefficients change too.
TEST(DeblockPicture, InnerEdgesOfACodedMacroblockAreFiltered) {
    TestPicture p(16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) p.data[static_cast<size_t>(y * 16 + x)] = x < 8 ? 100 : 110;
    }
    std::fill(p.data.begin() + 256, p.data.end(), uint8_t{128});
    EncoderDeblockAll(p, {1}, {8}, false);
    for (int y = 0; y < 16; ++y) {
        const uint8_t* row = p.data.data() + y * 16;
        EXPECT_EQ(row[6], 101);
        EXPECT_EQ(row[7], 103);
        EXPECT_EQ(row[8], 107);
        EXPECT_EQ(row[9], 109);
    }
}

TEST(DeblockPicture, PictureBordersAreNeverFiltered) {
    // In rows 0-1 and columns 0-1 of each plane (and the last two), the samples away from the inner
    // edges across them (positions 2..5 of each 8) are only reachable through an edge at the
    // picture border. A 2 x 2 macroblock picture, every macroblock coded.
    std::mt19937 rng(11);
    TestPicture p(32, 32);
    FillBlocky(p, rng, 1, 6);
    const std::vector<uint8_t> before = p.data;
    const std::vector<uint8_t> coded(4, 1);
    const std::vector<int> quant(4, 31);
    TestPicture q = p;
    EncoderDeblockAll(p, coded, quant, false);
    DecoderDeblockAll(q, coded, quant, false);
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
// the picture and then every vertical edge, with coded and skipped macroblocks mixed and a QUANT
// per macroblock; the encoder's and the decoder's sides agree with it and each other.
TEST(DeblockPicture, MacroblockOrderEqualsWholePictureOrder) {
    std::mt19937 rng(2024);
    const int sizes[][2] = {{16, 16}, {64, 48}, {176, 144}, {48, 96}};
    for (int trial = 0; trial < 32; ++trial) {
        const int w = sizes[trial % 4][0], h = sizes[trial % 4][1];
        const bool mq = (trial / 4) % 2 != 0;
        const bool constantQuant = (trial / 8) % 2 == 0;
        const int qp = 1 + static_cast<int>(rng() % 31);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " qp " << qp << " mq " << mq << " constant "
                                        << constantQuant);
        TestPicture ref(w, h);
        FillBlocky(ref, rng, 3, 4 + qp);
        std::vector<uint8_t> coded(static_cast<size_t>(ref.MbCount()));
        const int density = trial % 3;  // all coded, mixed, sparse
        for (uint8_t& c : coded) c = density == 0 ? 1 : (rng() % (density + 1) == 0 ? 1 : 0);
        std::vector<int> quant(coded.size(), qp);
        if (!constantQuant) {
            for (int& q : quant) q = 1 + static_cast<int>(rng() % 31);
        }
        TestPicture enc = ref, dec = ref;
        const std::vector<uint8_t> before = ref.data;

        ReferenceDeblock(ref, coded, quant, mq);
        EncoderDeblockAll(enc, coded, quant, mq);
        DecoderDeblockAll(dec, coded, quant, mq);
        if (qp >= 4 && density == 0) {
            EXPECT_NE(ref.data, before);
        }
        EXPECT_EQ(enc.data, ref.data);
        EXPECT_EQ(dec.data, ref.data);
    }
}

TEST(DeblockPicture, ChromaStrengthFollowsTheChromaQuantUnderAnnexT) {
    // QUANT 31: luma STRENGTH 12; with Annex T the chroma QUANT is 15, STRENGTH 7. A chroma step
    // of 100 | 127 gives d = 81 / 8 = 10: d1 = 10 at STRENGTH 12, 2 x 7 - 10 = 4 at STRENGTH 7.
    ASSERT_EQ(com::ChromaQuant(31, true), 15);
    ASSERT_EQ(com::ChromaQuant(31, false), 31);
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
        EncoderDeblockAll(enc, {1, 1}, {31, 31}, k.mq);
        DecoderDeblockAll(dec, {1, 1}, {31, 31}, k.mq);
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
