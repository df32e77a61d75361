#include "PlotSeries.h"

#include <algorithm>
#include <cmath>

#include "CsvReport.h"

namespace tessaro::shell {
namespace {

constexpr double kDefaultCeiling = 60.0;

double PlaneOf(double y, double u, double v, int plane) {
    return plane == 0 ? y : plane == 1 ? u : v;
}

bool Identical(double snr) {
    return snr >= kIdenticalSnr;
}

}  // namespace

void PlotSeries::Start(PlotKind kind) {
    kind_ = kind;
    pictures_.clear();
    comparisons_.clear();
}

void PlotSeries::Add(const PictureReport& picture) {
    if (kind_ == PlotKind::kEncode) pictures_.push_back(picture);
}

void PlotSeries::Add(const FrameComparison& frame) {
    if (kind_ == PlotKind::kCompare) comparisons_.push_back(frame);
}

int PlotSeries::Count(char type) const {
    return static_cast<int>(std::count_if(pictures_.begin(), pictures_.end(),
                                          [type](const PictureReport& p) { return p.type == type; }));
}

std::vector<PlotPoint> PlotSeries::Bars(char type) const {
    std::vector<const PictureReport*> chosen;
    for (const PictureReport& p : pictures_) {
        if (p.type == type) chosen.push_back(&p);
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const PictureReport* a, const PictureReport* b) { return a->frame < b->frame; });
    std::vector<PlotPoint> points;
    points.reserve(chosen.size() * 4);
    for (const PictureReport* p : chosen) {
        const double left = p->frame - kBarHalfWidth, right = p->frame + kBarHalfWidth;
        const double bytes = p->bytes;
        points.push_back({left, 0.0});
        points.push_back({left, bytes});
        points.push_back({right, bytes});
        points.push_back({right, 0.0});
    }
    return points;
}

uint32_t PlotSeries::MaxBytes() const {
    uint32_t most = 0;
    for (const PictureReport& p : pictures_) most = std::max(most, p.bytes);
    return most;
}

bool PlotSeries::HasSnr() const {
    if (!comparisons_.empty()) return true;
    return std::any_of(pictures_.begin(), pictures_.end(),
                       [](const PictureReport& p) { return p.snrMeasured; });
}

double PlotSeries::SnrCeiling() const {
    double highest = -1.0;
    auto take = [&](double snr) {
        if (!Identical(snr)) highest = std::max(highest, snr);
    };
    for (const PictureReport& p : pictures_) {
        if (!p.snrMeasured) continue;
        take(p.snrY), take(p.snrU), take(p.snrV);
    }
    for (const FrameComparison& f : comparisons_) take(f.snrY), take(f.snrU), take(f.snrV);
    if (highest < 0.0) return kDefaultCeiling;
    return std::ceil((highest + 5.0) / 10.0) * 10.0;
}

double PlotSeries::SnrFloor() const {
    double lowest = kIdenticalSnr;
    auto take = [&](double snr) { lowest = std::min(lowest, snr); };
    for (const PictureReport& p : pictures_) {
        if (!p.snrMeasured) continue;
        take(p.snrY), take(p.snrU), take(p.snrV);
    }
    for (const FrameComparison& f : comparisons_) take(f.snrY), take(f.snrU), take(f.snrV);
    const double ceiling = SnrCeiling();
    if (lowest >= ceiling) return std::max(0.0, ceiling - 30.0);
    return std::max(0.0, std::floor(lowest / 10.0) * 10.0);
}

std::vector<PlotPoint> PlotSeries::Snr(int plane) const {
    const double ceiling = SnrCeiling();
    std::vector<PlotPoint> points;
    auto add = [&](int frame, double snr) {
        points.push_back({double(frame), Identical(snr) ? ceiling : snr});
    };
    for (const PictureReport& p : pictures_) {
        if (p.snrMeasured) add(p.frame, PlaneOf(p.snrY, p.snrU, p.snrV, plane));
    }
    for (const FrameComparison& f : comparisons_) add(f.frame, PlaneOf(f.snrY, f.snrU, f.snrV, plane));
    std::stable_sort(points.begin(), points.end(),
                     [](const PlotPoint& a, const PlotPoint& b) { return a.x < b.x; });
    return points;
}

int PlotSeries::FirstFrame() const {
    int first = -1;
    auto take = [&](int frame) { first = first < 0 ? frame : std::min(first, frame); };
    for (const PictureReport& p : pictures_) take(p.frame);
    for (const FrameComparison& f : comparisons_) take(f.frame);
    return std::max(first, 0);
}

int PlotSeries::LastFrame() const {
    int last = 0;
    for (const PictureReport& p : pictures_) last = std::max(last, p.frame);
    for (const FrameComparison& f : comparisons_) last = std::max(last, f.frame);
    return std::max(last, FirstFrame() + 1);
}

std::string PlotSeries::Csv() const {
    switch (kind_) {
        case PlotKind::kEncode:
            return PictureCsv(pictures_);
        case PlotKind::kCompare:
            return ComparisonCsv(comparisons_);
        case PlotKind::kNone:
            break;
    }
    return {};
}

}  // namespace tessaro::shell
