// Motion search: whole pictures with known motion, and the decision steps on synthetic cost
// landscapes served by a stand-in SAD kernel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "R263AVO/MotionEst.h"
#include "MotionTestPictures.h"

namespace {

using motiontest::Interpolated;
using motiontest::SearchPicture;
using motiontest::TexturePlane;
using r263avo::MbRecord;
using r263avo::MotionSearchInput;
using r263avo::MotionSearchResult;

constexpr int kInter = 0, kIntra = 3;

TEST(MotionSearch, IdenticalPictureGivesZeroVectorsAtEverySpeed) {
    const int w = 64, h = 48;
    const auto pic = TexturePlane(w, h);
    const auto interp = Interpolated(pic, w, h);
    for (int speed = 1; speed <= 5; ++speed) {
        for (const auto& r : SearchPicture(pic, interp, w, h, 15, speed)) {
            EXPECT_EQ(r.type, kInter);
            EXPECT_EQ(r.sad, -100);
            EXPECT_EQ(r.record.hx, 0);
            EXPECT_EQ(r.record.hy, 0);
            EXPECT_EQ(r.record.wx, 0);
            EXPECT_EQ(r.record.wy, 0);
        }
    }
}

// A global whole-pixel shift is found exactly wherever the true vector keeps the block inside.
TEST(MotionSearch, FindsGlobalWholePixelShift) {
    const int w = 96, h = 80;
    const auto ref = TexturePlane(w, h);
    const auto interp = Interpolated(ref, w, h);
    for (const auto& [dx, dy] : {std::pair{3, -2}, std::pair{-5, 4}, std::pair{1, 1}, std::pair{0, -6}}) {
        const auto cur = TexturePlane(w, h, dx, dy);
        const auto results = SearchPicture(cur, interp, w, h, 15, 1);
        int checked = 0;
        for (size_t k = 0; k < results.size(); ++k) {
            const int x = 16 * static_cast<int>(k % (w / 16)), y = 16 * static_cast<int>(k / (w / 16));
            if (x + dx < 0 || x + dx > w - 16 || y + dy < 0 || y + dy > h - 16) continue;
            ++checked;
            EXPECT_EQ(results[k].type, kInter) << "mb " << k;
            EXPECT_EQ(results[k].record.hx, 2 * dx) << "mb " << k << " shift " << dx << "," << dy;
            EXPECT_EQ(results[k].record.hy, 2 * dy) << "mb " << k << " shift " << dx << "," << dy;
            EXPECT_EQ(results[k].record.wx, dx);
            EXPECT_EQ(results[k].record.wy, dy);
        }
        EXPECT_GT(checked, 10);
    }
}

// The current picture is cut from the half-pel samples of the reference, so a half-pel vector
// matches it exactly.
std::vector<uint8_t> HalfPelShifted(const std::vector<uint8_t>& interp, int w, int h, int hu, int hv) {
    std::vector<uint8_t> cur(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            cur[j * w + i] = *r263avo::InterpAt(interp.data(), w, 2 * i + hu, 2 * j + hv);
    return cur;
}

TEST(MotionSearch, FindsGlobalHalfPixelShift) {
    const int w = 96, h = 80;
    const auto interp = Interpolated(TexturePlane(w, h), w, h);
    for (const auto& [hu, hv] : {std::pair{5, -2}, std::pair{-3, 3}, std::pair{1, 0}}) {
        const auto results = SearchPicture(HalfPelShifted(interp, w, h, hu, hv), interp, w, h, 15, 1);
        int checked = 0;
        for (size_t k = 0; k < results.size(); ++k) {
            const int x = 16 * static_cast<int>(k % (w / 16)), y = 16 * static_cast<int>(k / (w / 16));
            // Keep to macroblocks whose true vector and its whole-pixel neighbours are all inside.
            if (2 * x + hu < 2 || 2 * x + hu > 2 * (w - 16) - 2 || 2 * y + hv < 2 ||
                2 * y + hv > 2 * (h - 16) - 2)
                continue;
            ++checked;
            EXPECT_EQ(results[k].type, kInter) << "mb " << k;
            EXPECT_EQ(results[k].record.hx, hu) << "mb " << k;
            EXPECT_EQ(results[k].record.hy, hv) << "mb " << k;
            EXPECT_EQ(results[k].sad, 0) << "mb " << k;
            // The whole-pixel vector is one of the neighbouring whole positions.
            EXPECT_LE(std::abs(2 * results[k].record.wx - hu), 1);
            EXPECT_LE(std::abs(2 * results[k].record.wy - hv), 1);
        }
        EXPECT_GT(checked, 10);
    }
}

// Vectors never leave the picture: first/last columns and rows in particular.
TEST(MotionSearch, VectorsKeepTheBlockInsideThePicture) {
    const int w = 80, h = 64;
    const auto interp = Interpolated(TexturePlane(w, h), w, h);
    for (int speed = 1; speed <= 5; ++speed) {
        for (const auto& [dx, dy] :
             {std::pair{6, 6}, std::pair{-6, -6}, std::pair{7, -5}, std::pair{-4, 7}}) {
            const auto cur = TexturePlane(w, h, dx, dy);
            const auto results = SearchPicture(cur, interp, w, h, 15, speed);
            for (size_t k = 0; k < results.size(); ++k) {
                const int x = 16 * static_cast<int>(k % (w / 16)), y = 16 * static_cast<int>(k / (w / 16));
                const MbRecord& m = results[k].record;
                if (x == 0) {
                    EXPECT_GE(m.hx, 0) << "first column, mb " << k;
                }
                if (x == w - 16) {
                    EXPECT_LE(m.hx, 0) << "last column, mb " << k;
                }
                if (y == 0) {
                    EXPECT_GE(m.hy, 0) << "first row, mb " << k;
                }
                if (y == h - 16) {
                    EXPECT_LE(m.hy, 0) << "last row, mb " << k;
                }
                EXPECT_GE(2 * x + m.hx, 0);
                EXPECT_LE(2 * x + m.hx, 2 * (w - 16));
                EXPECT_GE(2 * y + m.hy, 0);
                EXPECT_LE(2 * y + m.hy, 2 * (h - 16));
            }
        }
    }
}

TEST(MotionSearch, ZeroWindowOnlyMovesByHalfPixels) {
    const int w = 64, h = 64;
    const auto interp = Interpolated(TexturePlane(w, h), w, h);
    const auto results = SearchPicture(HalfPelShifted(interp, w, h, 1, -1), interp, w, h, 0, 1);
    for (size_t k = 0; k < results.size(); ++k) {
        EXPECT_EQ(results[k].record.wx, 0);
        EXPECT_EQ(results[k].record.wy, 0);
        EXPECT_LE(std::abs(results[k].record.hx), 1);
        EXPECT_LE(std::abs(results[k].record.hy), 1);
        const int x = 16 * static_cast<int>(k % (w / 16)), y = 16 * static_cast<int>(k / (w / 16));
        if (x < w - 16 && y > 0) {
            EXPECT_EQ(results[k].record.hx, 1) << "mb " << k;
            EXPECT_EQ(results[k].record.hy, -1) << "mb " << k;
        }
    }
}

// A flat macroblock (activity 0) over a flat reference that differs by d per sample: the cost is
// 256 d - 100, and INTRA is chosen exactly when that exceeds 500.
TEST(MotionSearch, FlatMacroblockTurnsIntraWhenTheCostExceeds500) {
    const int w = 32, h = 32;
    const std::vector<uint8_t> cur(w * h, 100);
    struct Case {
        int refValue, speed, type;
    };
    const Case cases[] = {
        {102, 1, kInter},                   // 412
        {103, 1, kIntra},                   // 668
        {103, 2, kIntra}, {97, 4, kIntra},  // 668 is not below the accept threshold 512 of the zero candidate
        {103, 5, kInter},                   // 668 < 768: the zero candidate is taken before the INTRA test
        {140, 5, kIntra},
    };
    for (const Case& t : cases) {
        const auto interp = Interpolated(std::vector<uint8_t>(w * h, t.refValue), w, h);
        for (const auto& r : SearchPicture(cur, interp, w, h, 0, t.speed)) {
            EXPECT_EQ(r.type, t.type) << "ref " << t.refValue << " speed " << t.speed;
            EXPECT_EQ(r.record.wx, 0);
            EXPECT_EQ(r.record.wy, 0);
        }
    }
}

TEST(MotionSearch, NoiseAgainstFlatReferenceIsIntra) {
    const int w = 48, h = 32;
    std::vector<uint8_t> ref(w * h, 128), cur(w * h);
    unsigned s = 12345;
    for (auto& p : cur) p = static_cast<uint8_t>(120 + ((s = s * 1103515245u + 12345u) >> 16) % 16);
    // The activity of small noise around 127 is far below its SAD against a distant flat value.
    for (auto& p : ref) p = 20;
    const auto interp = Interpolated(ref, w, h);
    for (int speed = 1; speed <= 5; ++speed)
        for (const auto& r : SearchPicture(cur, interp, w, h, 15, speed)) EXPECT_EQ(r.type, kIntra) << speed;
}

TEST(MacroblockActivity, SumsDeviationsFromTheTruncatedMean) {
    std::vector<uint8_t> mb(16 * 20, 0);
    // 128 samples of 3 and 128 of 0 (stride 20): mean 1.5 truncates to 1, activity 128*2 + 128*1.
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 8; ++i) mb[j * 20 + i] = 3;
    EXPECT_EQ(r263avo::MacroblockActivity(mb.data(), 20), 384);
    std::fill(mb.begin(), mb.end(), 77);
    EXPECT_EQ(r263avo::MacroblockActivity(mb.data(), 20), 0);
}

// ---- Decision steps on synthetic cost landscapes -------------------------------------------
//
// A stand-in SAD kernel recovers the half-pel position (u, v) from the reference pointer and
// returns the landscape's cost there, so each step of the search can be steered precisely.

struct Landscape {
    const uint8_t* base = nullptr;
    int width = 0;
    std::function<int(int u, int v)> full, sub;
    int calls = 0;
};
Landscape* gLandscape = nullptr;

void Position(const uint8_t* ref, int* u, int* v) {
    const long offset = ref - gLandscape->base;
    const int stride = r263avo::InterpStride(gLandscape->width);
    *v = static_cast<int>(offset / stride) - r263avo::kInterpMargin;
    *u = static_cast<int>(offset % stride) - r263avo::kInterpMargin;
}

int FakeFull(const uint8_t*, int, const uint8_t* ref, int, int) {
    int u, v;
    Position(ref, &u, &v);
    ++gLandscape->calls;
    return gLandscape->full(u, v);
}
int FakeSub(const uint8_t*, int, const uint8_t* ref, int, int) {
    int u, v;
    Position(ref, &u, &v);
    ++gLandscape->calls;
    return gLandscape->sub(u, v);
}

class LandscapeSearch : public ::testing::Test {
  protected:
    static constexpr int kW = 128, kH = 128;

    LandscapeSearch() : cur_(kW * kH), interp_(r263avo::InterpStride(kW) * r263avo::InterpRows(kH)) {
        // A textured current picture keeps the INTRA test out of the way.
        for (size_t i = 0; i < cur_.size(); ++i) cur_[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3));
        land_.base = interp_.data();
        land_.width = kW;
        gLandscape = &land_;
        above_.assign(kW / 16 + 1, MbRecord{});
    }
    ~LandscapeSearch() override { gLandscape = nullptr; }

    // Searches the macroblock at (x, y) with both kernels serving cost(u - 2x, v - 2y) in half-pels
    // relative to the macroblock.
    MotionSearchResult Search(int x, int y, int sw, int speed, std::function<int(int, int)> cost) {
        land_.full = [=](int u, int v) { return cost(u - 2 * x, v - 2 * y); };
        land_.sub = land_.full;
        land_.calls = 0;
        MotionSearchInput in;
        in.cur = cur_.data();
        in.interp = interp_.data();
        in.width = kW;
        in.height = kH;
        in.searchWindow = sw;
        in.preset = &r263avo::SpeedPresets[speed - 1];
        in.aboveRow = above_.data();
        in.left = &left_;
        in.sad = {FakeFull, FakeSub};
        return r263avo::MotionSearch(in, x, y, x / 16);
    }

    std::vector<uint8_t> cur_, interp_;
    Landscape land_;
    std::vector<MbRecord> above_;
    MbRecord left_;
};

// A bowl with its minimum at whole-pixel (tx, ty): 1000 + 50 per half-pel of city-block distance.
std::function<int(int, int)> Bowl(int tx, int ty) {
    return [=](int u, int v) { return 1000 + 50 * (std::abs(u - 2 * tx) + std::abs(v - 2 * ty)); };
}

TEST_F(LandscapeSearch, DescentFollowsTheSlopeToTheMinimum) {
    const auto r = Search(48, 48, 8, 1, Bowl(3, -2));
    EXPECT_EQ(r.type, kInter);
    EXPECT_EQ(r.record.wx, 3);
    EXPECT_EQ(r.record.wy, -2);
    EXPECT_EQ(r.record.hx, 6);
    EXPECT_EQ(r.record.hy, -4);
    EXPECT_EQ(r.sad, 1000);
}

TEST_F(LandscapeSearch, StopShiftEndsTheDescentUnlessTheCostHalves) {
    // Speed 3 (shift 1): step 1 reaches (1, 0) at 1200, step 2 finds 1100 > 1200 >> 1 and stops
    // after entering (2, 0) as the best; its cost 1100 is below the half-pel threshold 1536.
    const auto r = Search(48, 48, 8, 3, Bowl(3, 0));
    EXPECT_EQ(r.record.wx, 2);
    EXPECT_EQ(r.record.wy, 0);
    EXPECT_EQ(r.record.hx, 4);
    EXPECT_EQ(r.sad, 1100);
}

TEST_F(LandscapeSearch, WindowLimitsTheDescentAndCountsFromThePicture) {
    // The minimum lies beyond the window of 2 pixels.
    auto r = Search(48, 48, 2, 1, Bowl(6, 0));
    EXPECT_EQ(r.record.wx, 2);
    EXPECT_EQ(r.record.hx, 5);  // the half-pel step may go half a pixel past the window
    // In the first column nothing to the left is tried.
    r = Search(0, 48, 8, 1, Bowl(-4, 0));
    EXPECT_EQ(r.record.wx, 0);
    EXPECT_EQ(r.record.hx, 0);
}

TEST_F(LandscapeSearch, DescentVisitsAtMostEightPositionsPerPixelOfWindow) {
    // A landscape falling away without end, at every speed and window.
    for (int speed = 1; speed <= 5; ++speed) {
        for (int sw : {1, 3, 7, 15}) {
            Search(64, 64, sw, speed, [](int u, int v) { return 60000 - 100 * (u + v); });
            // SAD0, up to three candidates, the descent, eight half-pel positions.
            EXPECT_LE(land_.calls, 1 + 3 + 8 * sw + 8) << "speed " << speed << " sw " << sw;
        }
    }
}

TEST_F(LandscapeSearch, DescentSwingingBetweenTwoCentresEndsWithItsBest) {
    // Whole pixels (1, 0) and (2, 0) cost 950, everything else 1000, so the zero vector keeps
    // the best cost (1000 less the bias of 100). The descent goes to (1, 0), to (2, 0), and back,
    // each step at the cost of the one before: the same state after steps 2 and 4 ends it with
    // the result that twice the window of steps (6 or 30) would give.
    for (int sw : {3, 15}) {
        const auto r = Search(64, 64, sw, 1, [](int u, int v) {
            return v == 0 && (u == 2 || u == 4) ? 950 : 1000;
        });
        EXPECT_EQ(r.type, kInter);
        EXPECT_EQ(r.record.hx, 0);
        EXPECT_EQ(r.record.hy, 0);
        EXPECT_EQ(r.sad, 900);
        // SAD0, four neighbours in each of four steps, the eight half-pel positions.
        EXPECT_EQ(land_.calls, 1 + 4 * 4 + 8) << "window " << sw;
    }
}

TEST_F(LandscapeSearch, ZeroWindowEvaluatesNoNeighbours) {
    // 100 per half-pel: SAD0 = 1800 - 100; of the eight half positions only (1, 1) at 1600 beats
    // it ((1, 0) and (0, 1) tie at 1700 and do not replace it).
    const auto r =
        Search(64, 64, 0, 1, [](int u, int v) { return 1000 + 100 * (std::abs(u - 4) + std::abs(v - 4)); });
    EXPECT_EQ(r.record.wx, 0);
    EXPECT_EQ(r.record.wy, 0);
    EXPECT_EQ(r.record.hx, 1);
    EXPECT_EQ(r.record.hy, 1);
    EXPECT_EQ(r.sad, 1600);
    EXPECT_EQ(land_.calls, 1 + 8);  // SAD0 and the half-pel positions; candidates are all (0, 0)
}

// The best of the three candidates, with costs L, A, R for left (1, 0), above (0, 1) and
// above-right (1, 1); at Speed 5 any cost below 768 is accepted at once, which reveals the choice.
TEST_F(LandscapeSearch, CandidateChoiceAndEarlyAccept) {
    struct Case {
        int l, a, r;
        int wx, wy;
    };
    const Case cases[] = {
        {300, 200, 400, 0, 1},  // A < L, A < R: above
        {300, 200, 200, 1, 1},  // A < L, A = R: above-right
        {300, 200, 100, 1, 1},  // A < L, R < A: above-right
        {200, 200, 300, 1, 0},  // L = A, L < R: left
        {200, 300, 200, 1, 0},  // L < A, L = R: left
        {200, 300, 100, 1, 1},  // L < A, R < L: above-right
    };
    left_ = {2, 0, 1, 0};
    above_[4] = {0, 2, 0, 1};
    above_[5] = {2, 2, 1, 1};
    for (const Case& t : cases) {
        const auto r = Search(64, 64, 8, 5, [&](int u, int v) {
            if (u == 2 && v == 0) return t.l;
            if (u == 0 && v == 2) return t.a;
            if (u == 2 && v == 2) return t.r;
            return 5000;
        });
        EXPECT_EQ(r.type, kInter);
        EXPECT_EQ(r.record.wx, t.wx) << t.l << " " << t.a << " " << t.r;
        EXPECT_EQ(r.record.wy, t.wy) << t.l << " " << t.a << " " << t.r;
        EXPECT_EQ(r.record.hx, 2 * t.wx);
        EXPECT_EQ(r.record.hy, 2 * t.wy);
        EXPECT_EQ(land_.calls, 4);  // SAD0 and three candidates, nothing else
    }
}

TEST_F(LandscapeSearch, CandidatesOutsideTheWindowOrPictureAreIgnored) {
    // A left candidate beyond the window would be perfect, but costs 65536: the search starts from
    // the zero vector (SAD0 = 5000 - 100, not accepted) and descends to (1, 0).
    left_ = {20, 0, 10, 0};
    auto r = Search(64, 64, 4, 5,
                    [](int u, int v) { return (u == 20 && v == 0) ? 0 : (u == 2 && v == 0 ? 900 : 5000); });
    EXPECT_EQ(r.record.wx, 1);
    EXPECT_EQ(r.record.wy, 0);
    // In the first row the above candidates are (0, 0) whatever the records hold.
    left_ = {};
    above_[4] = {4, 4, 2, 2};
    r = Search(64, 0, 8, 5, [](int u, int v) { return (u == 4 && v == 4) ? 0 : 5000; });
    EXPECT_EQ(r.record.wx, 0);
    EXPECT_EQ(r.record.wy, 0);
}

TEST_F(LandscapeSearch, HalfPelRefinementOrderAndThreshold) {
    // Minimum between whole pixels: at half-pel (7, 3) relative to the macroblock.
    const auto halfBowl = [](int u, int v) { return 3000 + 50 * (std::abs(u - 7) + std::abs(v - 3)); };
    auto r = Search(48, 48, 8, 1, halfBowl);
    EXPECT_EQ(r.record.hx, 7);
    EXPECT_EQ(r.record.hy, 3);
    EXPECT_EQ(r.sad, 3000);
    // Equal costs at every half position: the first in order, (l, t), wins.
    r = Search(48, 48, 8, 1, [](int u, int v) {
        return (u % 2 || v % 2) ? 1800 : 2100 + 10 * (std::abs(u) + std::abs(v));
    });
    EXPECT_EQ(r.record.wx, 0);
    EXPECT_EQ(r.record.hx, -1);
    EXPECT_EQ(r.record.hy, -1);
    // At Speed 2 a best cost of at most 1024 skips the refinement.
    r = Search(48, 48, 8, 2,
               [](int u, int v) { return (u % 2 || v % 2) ? 0 : 1024 + 10 * (std::abs(u) + std::abs(v)); });
    EXPECT_EQ(r.record.hx, 0);
    EXPECT_EQ(r.record.hy, 0);
}

}  // namespace
