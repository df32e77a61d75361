#include "MotionEst.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Picture.h"

namespace r263avo {

// Speed 1..5: accept threshold, descent stop shift, half-pel threshold, quantiser table parameter,
// the two inter early-exit limits of the quantiser, subsampled descent SAD. The encoder's speed
// presets, one row per Speed setting.
// clang-format off
const SpeedPreset SpeedPresets[5] = {
    {  0, 0,    0,  1, 8, 8, 0},
    {128, 0, 1024, 10, 8, 4, 0},
    {256, 1, 1536, 25, 4, 4, 0},
    {512, 1, 2048, 35, 2, 2, 0},
    {768, 1, 2048, 45, 2, 1, 1},
};
// clang-format on

namespace {

constexpr int kNoStop = 65535;     // a SAD limit that never stops a kernel
constexpr int kNoCost = 65536;     // cost of a position outside the window; above any SAD
constexpr int kZeroBias = 100;     // the zero vector is favoured by this much
constexpr int kIntraMargin = 500;  // INTRA when the activity is below the best cost by this much
// States of the descent kept to find one that comes back: two per pixel of the largest window
// the settings allow. Steps beyond that are still taken; they are only not kept.
constexpr int kMaxDescentStates = 32;

constexpr int kMbTypeInter = 0;
constexpr int kMbTypeIntra = 3;

struct Window {
    int xmin, xmax, ymin, ymax;
    bool Inside(int px, int py) const { return px >= xmin && px <= xmax && py >= ymin && py <= ymax; }
};

class Searcher {
  public:
    Searcher(const MotionSearchInput& in, int x, int y)
        : in_(in),
          cur_(in.cur + static_cast<long>(y) * in.width + x),
          refStride_(InterpStride(in.width)),
          plane_(in.ref != nullptr && in.sad.planeFull != nullptr && in.sad.planeSub != nullptr),
          run_(plane_ && in.sad.planeRun != nullptr),
          halfRing_(in.sad.halfRing != nullptr ? in.sad.halfRing : SadKernelsC().halfRing) {}

    // SAD of the macroblock against the reference at half-pel position (u, v).
    int Cost(Sad16Fn fn, int u, int v, int limit) const {
        return fn(cur_, in_.width, InterpAt(in_.interp, in_.width, u, v), refStride_, limit);
    }
    // At whole-pixel position (px, py): from the plain reference plane when there is one.
    int Full(int px, int py, int limit) const {
        return plane_ ? in_.sad.planeFull(cur_, in_.width, PlaneAt(px, py), in_.width, limit)
                      : Cost(in_.sad.full, 2 * px, 2 * py, limit);
    }
    int Sub(int px, int py, int limit) const {
        return plane_ ? in_.sad.planeSub(cur_, in_.width, PlaneAt(px, py), in_.width, limit)
                      : Cost(in_.sad.sub, 2 * px, 2 * py, limit);
    }

    // A run of whole-pixel positions, in order, each against the lowest cost so far (see
    // Sad16RunFn): one kernel call on the plane when there is a run kernel.
    void Run(const int (*pos)[2], int n, int* best, int* costs) const {
        if (run_) {
            const uint8_t* refs[8];
            for (int i = 0; i < n; ++i) refs[i] = PlaneAt(pos[i][0], pos[i][1]);
            in_.sad.planeRun(cur_, in_.width, refs, n, best, costs);
            return;
        }
        for (int i = 0; i < n; ++i) {
            costs[i] = Full(pos[i][0], pos[i][1], *best);
            if (costs[i] < *best) *best = costs[i];
        }
    }

    // Costs of the eight half-pel positions around whole pixel (px, py) (half-pel positions pos:
    // the kHalfRing offsets, those outside the picture moved onto the centre's row or column) for
    // a search that only asks which of them beat `best` in turn: on a plane the whole sums,
    // interpolated from it; else a run against `best` on the half-pel image. Either gives the
    // same answers (a whole sum is never below the partial sum that passed a limit).
    void Ring(int px, int py, const int (*pos)[2], int best, int* costs) const {
        if (!plane_) {
            for (int i = 0; i < 8; ++i) {
                costs[i] = Cost(in_.sad.full, pos[i][0], pos[i][1], best);
                if (costs[i] < best) best = costs[i];
            }
            return;
        }
        // Inside the picture the positions are the ring's, in its order.
        if (px > 0 && py > 0 && px < in_.width - 16 && py < in_.height - 16) {
            halfRing_(cur_, in_.width, PlaneAt(px, py), in_.width, costs);
            return;
        }
        // At the picture's edges the positions outside it are not asked for (they fall back onto
        // the centre's row or column); the ring runs on a copy with repeated edges.
        const int u = 2 * px, v = 2 * py;
        int ring[8];
        uint8_t copy[18 * kCopyStride];
        CopyAround(px, py, copy);
        halfRing_(cur_, in_.width, copy + kCopyStride + 1, kCopyStride, ring);
        for (int i = 0; i < 8; ++i) {
            const int dx = pos[i][0] - u, dy = pos[i][1] - v;
            if (dx == 0 && dy == 0) {
                costs[i] = in_.sad.planeFull(cur_, in_.width, PlaneAt(px, py), in_.width, kNoStop);
            } else {
                const int k = 3 * (dy + 1) + dx + 1;  // 0..8 with the centre, 4, left out
                costs[i] = ring[k < 4 ? k : k - 1];
            }
        }
    }

    const uint8_t* Current() const { return cur_; }

  private:
    static constexpr int kCopyStride = 32;

    const uint8_t* PlaneAt(int px, int py) const { return in_.ref + static_cast<long>(py) * in_.width + px; }

    // Rows and columns -1..16 around whole pixel (px, py) into `copy` (18 rows of kCopyStride
    // bytes, column -1 first), with the plane's edge samples repeated outside it.
    void CopyAround(int px, int py, uint8_t* copy) const {
        const int W = in_.width, H = in_.height;
        for (int j = 0; j < 18; ++j) {
            const uint8_t* row = in_.ref + static_cast<long>(std::clamp(py + j - 1, 0, H - 1)) * W;
            uint8_t* out = copy + j * kCopyStride;
            out[0] = row[std::max(px - 1, 0)];
            std::memcpy(out + 1, row + px, 16);
            out[17] = row[std::min(px + 16, W - 1)];
        }
    }

    const MotionSearchInput& in_;
    const uint8_t* cur_;
    int refStride_;
    bool plane_;
    bool run_;  // runs go to the run kernel
    Sad16HalfRingFn halfRing_;  // the refinement on the plane (the plain ring when the table has none)
};

}  // namespace

int MacroblockActivity(const uint8_t* cur, int stride) {
    int sum = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i) sum += cur[j * stride + i];
    const int mean = sum / 256;
    int activity = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i) activity += std::abs(cur[j * stride + i] - mean);
    return activity;
}

MotionSearchResult MotionSearch(const MotionSearchInput& in, int x, int y, int c) {
    const int W = in.width, H = in.height;
    const int sw = std::max(0, in.searchWindow);
    const SpeedPreset& preset = *in.preset;
    const Searcher s(in, x, y);
    const Window win{std::max(0, x - sw), std::min(x + sw, W - 16), std::max(0, y - sw),
                     std::min(y + sw, H - 16)};

    // Zero vector, favoured by a fixed bias; it is the overall best so far.
    const int sad0 = s.Full(x, y, kNoStop) - kZeroBias;
    int bestX = x, bestY = y, bestCost = sad0;

    // The three predictor candidates (whole-pixel vectors of the neighbours).
    struct Candidate {
        int dx = 0, dy = 0, cost = 0;
    };
    auto evaluate = [&](int dx, int dy) {
        Candidate k{dx, dy, 0};
        if (!win.Inside(x + dx, y + dy))
            k.cost = kNoCost;
        else if (dx == 0 && dy == 0)
            k.cost = sad0;
        else
            k.cost = s.Sub(x + dx, y + dy, kNoStop);
        return k;
    };
    const Candidate left = x == 0 ? evaluate(0, 0) : evaluate(in.left->wx, in.left->wy);
    const Candidate above = y == 0 ? evaluate(0, 0) : evaluate(in.aboveRow[c].wx, in.aboveRow[c].wy);
    const Candidate aboveRight =
        (x == W - 16 || y == 0) ? evaluate(0, 0) : evaluate(in.aboveRow[c + 1].wx, in.aboveRow[c + 1].wy);

    const Candidate* best;
    if (above.cost < left.cost)
        best = above.cost < aboveRight.cost ? &above : &aboveRight;
    else
        best = left.cost <= aboveRight.cost ? &left : &aboveRight;

    MotionSearchResult result;
    result.type = kMbTypeInter;
    if (best->cost < preset.acceptThreshold) {
        result.record = {2 * best->dx, 2 * best->dy, best->dx, best->dy};
        result.sad = best->cost;
        return result;
    }

    // Cross descent from the best candidate: each step moves to the cheapest of the four
    // neighbours and goes on while that cost keeps falling fast enough.
    //
    // From the third step on, one neighbour is the centre of the step before last, whose cost the
    // step before last found. When that cost is still the best one, the kernel would return it
    // again (a sum equal to its limit does not stop it), so it is not measured again; a lower
    // best at its turn can only come from this step, whose best cost it then cannot beat.
    //
    // Everything a step depends on is the state after the step before (DescentState). The best
    // cost is part of it and never rises, so once a state comes back, the steps since its first
    // time lowered no cost, and the steps after it would repeat them up to the step limit: the
    // result is the one the search has now. On flat or evenly textured areas the descent swings
    // between two centres that way (4CIF foreman: a quarter of all positions measured).
    static constexpr int kCross[4][2] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}};
    const bool subsampled = preset.subsampledSad == 1;
    int cx = x + best->dx, cy = y + best->dy;
    int previous = kNoCost;
    int centerCost = kNoCost;  // the cost that chose the current centre (none for the first)
    int backX = -1, backY = -1, backCost = kNoCost;  // the centre before it and its cost
    struct DescentState {
        int cx, cy, previous, bestCost, backX, backY, backCost, centerCost;
        bool operator==(const DescentState&) const = default;
    };
    DescentState seen[kMaxDescentStates];
    int seenCount = 0;
    for (int step = 1;;) {
        int pos[4][2], costs[4], slot[4];  // slot: position of each neighbour in the run, or -1
        int n = 0, remembered = -1;
        const int startBest = bestCost;
        for (int k = 0; k < 4; ++k) {
            const int px = cx + kCross[k][0], py = cy + kCross[k][1];
            slot[k] = -1;
            if (!win.Inside(px, py)) continue;
            if (!subsampled && px == backX && py == backY && backCost == startBest) {
                remembered = k;
                continue;
            }
            pos[n][0] = px;
            pos[n][1] = py;
            slot[k] = n++;
        }
        if (subsampled) {
            for (int i = 0; i < n; ++i) {
                costs[i] = s.Sub(pos[i][0], pos[i][1], bestCost);
                if (costs[i] < bestCost) bestCost = costs[i];
            }
        } else {
            s.Run(pos, n, &bestCost, costs);
        }
        // The choices in the order of the neighbours, with the best cost each one met.
        int stepBest = kNoCost, nextX = cx, nextY = cy, running = startBest;
        for (int k = 0; k < 4; ++k) {
            int cost;
            if (k == remembered) {
                if (running != backCost) continue;
                cost = backCost;
            } else if (slot[k] >= 0) {
                cost = costs[slot[k]];
            } else {
                continue;
            }
            const int px = cx + kCross[k][0], py = cy + kCross[k][1];
            if (cost < running) {
                running = cost;
                bestX = px;
                bestY = py;
            }
            if (cost < stepBest) {
                stepBest = cost;
                nextX = px;
                nextY = py;
            }
        }
        backX = cx;
        backY = cy;
        backCost = step == 1 ? kNoCost : centerCost;
        centerCost = stepBest;
        cx = nextX;
        cy = nextY;
        ++step;
        if (!(stepBest <= (previous >> preset.stopShift) && step <= 2 * sw)) break;
        previous = stepBest;
        const DescentState now{cx, cy, previous, bestCost, backX, backY, backCost, centerCost};
        if (std::find(seen, seen + seenCount, now) != seen + seenCount) break;
        if (seenCount < kMaxDescentStates) seen[seenCount++] = now;
    }

    const int wx = bestX - x, wy = bestY - y;
    result.record = {2 * wx, 2 * wy, wx, wy};
    result.sad = bestCost;

    // The activity is never negative: below the margin no activity can make the macroblock INTRA.
    if (bestCost > kIntraMargin && in.activity(s.Current(), W) < bestCost - kIntraMargin) {
        result.type = kMbTypeIntra;
        return result;
    }

    if (bestCost > preset.halfPelThreshold) {
        const int l = bestX != 0 ? -1 : 0;
        const int r = bestX < W - 16 ? 1 : 0;
        const int t = bestY != 0 ? -1 : 0;
        const int b = bestY < H - 16 ? 1 : 0;
        // Written out position by position: building them from a table of offsets made the
        // compiler store the table piecewise and reload it as vectors, which stalls.
        const int u = 2 * bestX, v = 2 * bestY;
        const int pos[8][2] = {{u + l, v + t}, {u, v + t},     {u + r, v + t}, {u + l, v},
                               {u + r, v},     {u + l, v + b}, {u, v + b},     {u + r, v + b}};
        int costs[8];
        s.Ring(bestX, bestY, pos, bestCost, costs);
        int ox = 0, oy = 0;
        for (int k = 0; k < 8; ++k) {
            if (costs[k] < bestCost) {
                bestCost = costs[k];
                ox = pos[k][0] - u;
                oy = pos[k][1] - v;
            }
        }
        result.record.hx += ox;
        result.record.hy += oy;
        result.sad = bestCost;
    }
    return result;
}

}  // namespace r263avo
