// The "Plots" dock: the figures of the last encode or compare run as charts, following the run
// while it goes. An encode shows the bytes of each coded picture as bars coloured by picture type
// (I, P, B) and, when SNR was measured, the SNR of Y, U and V per picture; a compare shows the PSNR
// of Y, U and V per frame. The charts can be saved as PNG or SVG and their figures exported as
// CSV rows, the same rows `tessaro-cli encode --csv` and `compare --csv` write.
#pragma once

#include <QDockWidget>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "Job.h"
#include "PlotSeries.h"

class QAreaSeries;
class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QValueAxis;
class QAction;

namespace tessaro::shell {

class JobBridge;
class Prompts;

class PlotDock : public QDockWidget {
    Q_OBJECT
  public:
    PlotDock(Prompts& prompts, QWidget* parent = nullptr);

    // Where the save dialogs start, and the files a save must never replace (the open sequences,
    // their decoded files, a running encode's bitstream).
    void SetFolder(std::function<QString()> folder) { folder_ = std::move(folder); }
    void SetProtectedPaths(std::function<std::vector<std::string>()> paths) {
        protectedPaths_ = std::move(paths);
    }

    // Starts a new run of `kind` described by `title` and takes its reports from `bridge` as they
    // come, until the bridge goes.
    void Follow(JobBridge* bridge, PlotKind kind, const QString& title);
    // The same without a bridge (the reports come through the two calls below).
    void Start(PlotKind kind, const QString& title);
    void AddPicture(const PictureReport& picture);
    void AddComparison(const FrameComparison& frame);
    // Redraws the charts now instead of at the next refresh tick.
    void Refresh();

    const PlotSeries& series() const { return series_; }
    QChart* bytesChart() const { return bytesChart_; }
    QChart* snrChart() const { return snrChart_; }
    QChartView* bytesView() const { return bytesView_; }
    QChartView* snrView() const { return snrView_; }
    // The line under the title: which run, how many pictures or frames, and how it ended.
    QString summary() const;
    // Drawn series of the charts: the bars of 'I', 'P', 'B' and the lines of the planes 0..2.
    QAreaSeries* barSeries(char type) const;
    QLineSeries* snrSeries(int plane) const;

    // Writes the charts as an image, SVG when the name ends in ".svg" (any case), else PNG (or
    // another raster format that the name's extension asks for and Qt can write); false with
    // `error` when nothing was written.
    bool SaveImage(const QString& path, QString* error);
    // Writes the run's CSV rows; false with `error` (also when there is no run yet).
    bool ExportCsv(const QString& path, QString* error);
    // The commands: ask for the file, write it, tell a failure. False on Cancel or failure.
    bool SaveImageAs();
    bool ExportCsvAs();

    QAction* saveImageAction() const { return saveImage_; }
    QAction* exportCsvAction() const { return exportCsv_; }

  signals:
    // The charts were redrawn from the series (tests wait for it).
    void refreshed();

  private:
    void BuildCharts();
    void RedrawBytes();
    void RedrawSnr();
    void ScheduleRefresh();
    void UpdateSummary();
    bool WriteBytes(const QString& path, const QByteArray& bytes, QString* error);

    Prompts& prompts_;
    std::function<QString()> folder_;
    std::function<std::vector<std::string>()> protectedPaths_;
    PlotSeries series_;
    QPointer<JobBridge> followed_;
    QString title_, ending_;
    QTimer refresh_;
    QWidget* plotArea_ = nullptr;
    QLabel* summary_ = nullptr;
    QChart *bytesChart_ = nullptr, *snrChart_ = nullptr;
    QChartView *bytesView_ = nullptr, *snrView_ = nullptr;
    QAreaSeries* bars_[3] = {};
    QLineSeries* snr_[kPlanes] = {};
    QValueAxis *bytesX_ = nullptr, *bytesY_ = nullptr, *snrX_ = nullptr, *snrY_ = nullptr;
    QAction *saveImage_ = nullptr, *exportCsv_ = nullptr;
};

}  // namespace tessaro::shell
