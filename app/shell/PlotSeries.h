// The figures behind the plot dock, without any widget: the reports of one encode or compare run
// as they arrive, and the point lists the charts draw from them.
//
// The x axis of every series is the input frame number (display order), so that a run with
// B-pictures, whose reports come in coding order, still draws left to right. The reports
// themselves are kept in the order they came, which is the order of the CSV rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Job.h"

namespace tessaro::shell {

enum class PlotKind { kNone, kEncode, kCompare };

struct PlotPoint {
    double x = 0.0, y = 0.0;
    bool operator==(const PlotPoint& o) const { return x == o.x && y == o.y; }
};

// 0 = Y, 1 = U, 2 = V.
constexpr int kPlanes = 3;

// PSNR of a plane without error (the measure's stand-in for infinity).
constexpr double kIdenticalSnr = 1000.0;

// Half the width of one picture's bar, in frames.
constexpr double kBarHalfWidth = 0.4;

class PlotSeries {
  public:
    // Empties the series for a new run of `kind`.
    void Start(PlotKind kind);
    PlotKind kind() const { return kind_; }

    // One report of the run; a report of the other kind is ignored.
    void Add(const PictureReport& picture);
    void Add(const FrameComparison& frame);

    const std::vector<PictureReport>& pictures() const { return pictures_; }
    const std::vector<FrameComparison>& comparisons() const { return comparisons_; }
    bool empty() const { return pictures_.empty() && comparisons_.empty(); }

    // Coded pictures of type 'I', 'P' or 'B'.
    int Count(char type) const;

    // The bars of the pictures of one type as the outline of a filled area over y = 0: four
    // points per picture (frame - kBarHalfWidth, 0), (.., bytes), (frame + kBarHalfWidth, bytes),
    // (.., 0), pictures by rising frame number. Two pictures of the same type and frame (which a
    // run never makes) would be drawn over each other.
    std::vector<PlotPoint> Bars(char type) const;
    uint32_t MaxBytes() const;

    // The PSNR of `plane` per frame, by rising frame number: of the pictures whose SNR was
    // measured (encode runs) or of every compared frame. A plane without error (1000 dB) is drawn
    // at SnrCeiling() rather than stretching the axis to 1000.
    std::vector<PlotPoint> Snr(int plane) const;
    bool HasSnr() const;
    // The top of the PSNR axis: the highest value below 1000 dB plus 5 dB, rounded up to a
    // multiple of 10 dB; 60 dB when there is no such value (nothing measured yet, or every plane
    // without error).
    double SnrCeiling() const;
    // The bottom: the lowest value rounded down to 10 dB, never below 0.
    double SnrFloor() const;

    // The frame range the x axis spans (0..1 when empty).
    int FirstFrame() const;
    int LastFrame() const;

    // The run's per-picture data in the format of `tessaro-cli encode --csv` / `compare --csv`;
    // empty for a run of neither kind.
    std::string Csv() const;

  private:
    PlotKind kind_ = PlotKind::kNone;
    std::vector<PictureReport> pictures_;
    std::vector<FrameComparison> comparisons_;
};

}  // namespace tessaro::shell
