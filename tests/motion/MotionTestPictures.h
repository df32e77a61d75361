// Pictures and a picture-level driver for the motion search tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "R263AVO/Interpolation.h"
#include "R263AVO/MotionEst.h"
#include "R263AVO/Picture.h"

namespace motiontest {

// A smooth texture, defined everywhere, so that shifted copies can be cut from it without edges.
inline uint8_t Texture(double x, double y) {
    const double v = 128 + 50 * std::sin(0.23 * x + 0.07 * y) + 40 * std::cos(0.19 * y - 0.05 * x) +
                     20 * std::sin(0.11 * (x + y));
    return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

// Luma plane w x h with sample (i, j) = Texture(i + dx, j + dy).
inline std::vector<uint8_t> TexturePlane(int w, int h, int dx = 0, int dy = 0) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) p[j * w + i] = Texture(i + dx, j + dy);
    return p;
}

inline std::vector<uint8_t> Interpolated(const std::vector<uint8_t>& luma, int w, int h) {
    std::vector<uint8_t> out(static_cast<size_t>(r263avo::InterpStride(w)) * r263avo::InterpRows(h), 0);
    r263avo::InterpolatePictureC(luma.data(), w, h, out.data(), true);
    return out;
}

// Runs the search over every macroblock in raster order and keeps the neighbour records the way
// the picture coder does: the row above starts unavailable, the left record is zeroed at each row
// start, and an INTRA macroblock leaves a zero half-pel vector.
inline std::vector<r263avo::MotionSearchResult> SearchPicture(const std::vector<uint8_t>& cur,
                                                              const std::vector<uint8_t>& interp, int w,
                                                              int h, int searchWindow, int speed) {
    const int cols = w / 16;
    std::vector<r263avo::MbRecord> above(
        cols + 1, r263avo::MbRecord{r263avo::kMvUnavailable, r263avo::kMvUnavailable, 0, 0});
    above[cols] = {};
    r263avo::MbRecord left;
    r263avo::MotionSearchInput in;
    in.cur = cur.data();
    in.interp = interp.data();
    in.width = w;
    in.height = h;
    in.searchWindow = searchWindow;
    in.preset = &r263avo::SpeedPresets[speed - 1];
    in.aboveRow = above.data();
    in.left = &left;
    in.sad = r263avo::SelectSadKernels();
    std::vector<r263avo::MotionSearchResult> results;
    for (int y = 0; y < h; y += 16) {
        left = {};
        for (int c = 0; c < cols; ++c) {
            const auto r = r263avo::MotionSearch(in, 16 * c, y, c);
            results.push_back(r);
            r263avo::MbRecord stored = r.record;
            if (r.type == 3) stored.hx = stored.hy = 0;
            above[c] = stored;
            left = stored;
        }
    }
    return results;
}

}  // namespace motiontest
