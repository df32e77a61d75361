#include "PlotDock.h"

#include <QAction>
#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QSvgGenerator>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "CsvReport.h"
#include "JobBridge.h"
#include "OutputFiles.h"
#include "Prompts.h"

namespace tessaro::shell {
namespace {

// The charts are redrawn at most this often while a run reports (a fast encode reports hundreds
// of pictures a second; each redraw replaces whole point lists).
constexpr int kRefreshMs = 100;
// The least layout an image is drawn at (see SaveImage).
constexpr int kLeastImageWidth = 800;
constexpr int kLeastChartHeight = 320;
// PNG images are at least this many pixels wide: a small layout is drawn at a higher resolution.
constexpr int kMinimumImageWidth = 1200;

const char kTypes[3] = {'I', 'P', 'B'};
const QColor kTypeColours[3] = {QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4), QColor(0x2c, 0xa0, 0x2c)};
const char* const kPlaneNames[kPlanes] = {"Y", "U", "V"};
const QColor kPlaneColours[kPlanes] = {QColor(0x30, 0x30, 0x30), QColor(0x1f, 0x77, 0xb4),
                                       QColor(0xd6, 0x27, 0x28)};

const char* const kImageFilter = "PNG Images (*.png);;SVG Images (*.svg)";
const char* const kCsvFilter = "CSV Files (*.csv)";

// A tick interval of 1, 2 or 5 times a power of ten that cuts `span` into at most `ticks` parts.
double NiceInterval(double span, int ticks) {
    if (span <= 0.0) return 1.0;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= raw) return step * power;
    }
    return 10.0 * power;
}

QList<QPointF> ToPoints(const std::vector<PlotPoint>& points) {
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    for (const PlotPoint& p : points) list.append(QPointF(p.x, p.y));
    return list;
}

QChart* MakeChart() {
    auto* chart = new QChart();
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignTop);
    QFont title = chart->titleFont();
    title.setBold(true);
    chart->setTitleFont(title);
    return chart;
}

QValueAxis* MakeAxis(QChart* chart, Qt::Alignment side, const QString& title, const char* format) {
    auto* axis = new QValueAxis(chart);
    axis->setTitleText(title);
    axis->setLabelFormat(QString::fromLatin1(format));
    axis->setTickInterval(1.0);  // a usable interval before the ticks follow it
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    chart->addAxis(axis, side);
    return axis;
}

// Sets range and tick interval together. The axis lays out its ticks after each of the two
// changes, so the interval never gets smaller than the range needs on the way (a range of
// 100000 bytes with the interval of a range of 10 would make 50000 tick marks in between).
void SetAxis(QValueAxis* axis, double low, double high, double interval) {
    axis->setTickInterval(std::max(axis->tickInterval(), interval));
    axis->setRange(low, high);
    axis->setTickInterval(interval);
    axis->setTickAnchor(0.0);
}

// Frames on the x axis: whole frame numbers, the bars of the first and last picture inside.
void SetFrameRange(QValueAxis* axis, int first, int last) {
    SetAxis(axis, first - 0.5, last + 0.5, std::max(1.0, NiceInterval(last - first + 1, 10)));
}

// The dock's contents, with room for two readable charts when the dock is first placed.
class PlotBody : public QWidget {
  public:
    using QWidget::QWidget;
    QSize sizeHint() const override { return {600, 400}; }
};

}  // namespace

PlotDock::PlotDock(Prompts& prompts, QWidget* parent)
    : QDockWidget(QStringLiteral("Plots"), parent), prompts_(prompts) {
    setObjectName(QStringLiteral("plotDock"));
    auto* body = new PlotBody(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    auto* header = new QHBoxLayout();
    summary_ = new QLabel(body);
    summary_->setObjectName(QStringLiteral("plotSummary"));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long line is cut rather than widening the dock; the charts' titles say which run it is.
    summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(summary_, 1);
    saveImage_ = new QAction(style()->standardIcon(QStyle::SP_DialogSaveButton),
                             QStringLiteral("Save &Image..."), this);
    saveImage_->setObjectName(QStringLiteral("savePlotImage"));
    saveImage_->setStatusTip(QStringLiteral("Save the plots as a PNG or SVG image"));
    saveImage_->setToolTip(QStringLiteral("Save Plots As Image"));
    connect(saveImage_, &QAction::triggered, this, [this] { SaveImageAs(); });
    exportCsv_ = new QAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                             QStringLiteral("&Export CSV..."), this);
    exportCsv_->setObjectName(QStringLiteral("exportPlotCsv"));
    exportCsv_->setStatusTip(QStringLiteral("Export the plotted figures as comma-separated values"));
    exportCsv_->setToolTip(QStringLiteral("Export Plot Data"));
    connect(exportCsv_, &QAction::triggered, this, [this] { ExportCsvAs(); });
    for (QAction* a : {saveImage_, exportCsv_}) {
        auto* button = new QToolButton(body);
        button->setDefaultAction(a);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        header->addWidget(button);
    }
    layout->addLayout(header);

    plotArea_ = new QWidget(body);
    plotArea_->setObjectName(QStringLiteral("plotArea"));
    auto* charts = new QVBoxLayout(plotArea_);
    charts->setContentsMargins(0, 0, 0, 0);
    charts->setSpacing(0);
    BuildCharts();
    charts->addWidget(bytesView_, 1);
    charts->addWidget(snrView_, 1);
    layout->addWidget(plotArea_, 1);
    plotArea_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plotArea_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(saveImage_);
        menu.addAction(exportCsv_);
        menu.exec(plotArea_->mapToGlobal(at));
    });
    setWidget(body);

    refresh_.setSingleShot(true);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PlotDock::Refresh);
    Start(PlotKind::kNone, QString());
}

void PlotDock::BuildCharts() {
    bytesChart_ = MakeChart();
    bytesX_ = MakeAxis(bytesChart_, Qt::AlignBottom, QStringLiteral("Frame"), "%d");
    bytesY_ = MakeAxis(bytesChart_, Qt::AlignLeft, QStringLiteral("Bytes"), "%d");
    for (int i = 0; i < 3; ++i) {
        auto* area = new QAreaSeries();
        auto* upper = new QLineSeries(area);
        area->setUpperSeries(upper);
        area->setColor(kTypeColours[i]);
        area->setBorderColor(kTypeColours[i].darker(130));
        bytesChart_->addSeries(area);
        area->attachAxis(bytesX_);
        area->attachAxis(bytesY_);
        bars_[i] = area;
    }
    bytesView_ = new QChartView(bytesChart_, plotArea_);
    bytesView_->setObjectName(QStringLiteral("bytesChart"));
    bytesView_->setRenderHint(QPainter::Antialiasing);
    bytesView_->setMinimumSize(200, 120);

    snrChart_ = MakeChart();
    snrX_ = MakeAxis(snrChart_, Qt::AlignBottom, QStringLiteral("Frame"), "%d");
    snrY_ = MakeAxis(snrChart_, Qt::AlignLeft, QStringLiteral("dB"), "%.0f");
    for (int plane = 0; plane < kPlanes; ++plane) {
        auto* line = new QLineSeries();
        QPen pen(kPlaneColours[plane]);
        pen.setWidthF(1.5);
        line->setPen(pen);
        snrChart_->addSeries(line);
        line->attachAxis(snrX_);
        line->attachAxis(snrY_);
        snr_[plane] = line;
    }
    snrView_ = new QChartView(snrChart_, plotArea_);
    snrView_->setObjectName(QStringLiteral("snrChart"));
    snrView_->setRenderHint(QPainter::Antialiasing);
    snrView_->setMinimumSize(200, 120);
}

QAreaSeries* PlotDock::barSeries(char type) const {
    for (int i = 0; i < 3; ++i) {
        if (kTypes[i] == type) return bars_[i];
    }
    return nullptr;
}

QLineSeries* PlotDock::snrSeries(int plane) const {
    return plane >= 0 && plane < kPlanes ? snr_[plane] : nullptr;
}

void PlotDock::Follow(JobBridge* bridge, PlotKind kind, const QString& title) {
    // One run at a time: an encode and a compare may run together, and the run followed before
    // must neither add to this one nor end it.
    if (followed_) disconnect(followed_, nullptr, this, nullptr);
    followed_ = bridge;
    Start(kind, title);
    ending_ = QStringLiteral("running");
    UpdateSummary();
    connect(bridge, &JobBridge::pictureReported, this, &PlotDock::AddPicture);
    connect(bridge, &JobBridge::frameCompared, this, &PlotDock::AddComparison);
    connect(bridge, &JobBridge::finished, this, [this](bool completed, int, const QString&) {
        ending_ = completed ? QStringLiteral("completed") : QStringLiteral("stopped");
        Refresh();
    });
}

void PlotDock::Start(PlotKind kind, const QString& title) {
    series_.Start(kind);
    title_ = title;
    ending_.clear();
    refresh_.stop();
    bytesView_->setVisible(kind != PlotKind::kCompare);
    snrView_->setVisible(kind == PlotKind::kCompare);
    const QString prefix = title.isEmpty() ? QString() : title + QStringLiteral(": ");
    bytesChart_->setTitle(prefix + QStringLiteral("bytes per picture"));
    snrChart_->setTitle(prefix + (kind == PlotKind::kCompare ? QStringLiteral("PSNR per frame")
                                                             : QStringLiteral("SNR per picture")));
    Refresh();
}

void PlotDock::AddPicture(const PictureReport& picture) {
    series_.Add(picture);
    ScheduleRefresh();
}

void PlotDock::AddComparison(const FrameComparison& frame) {
    series_.Add(frame);
    ScheduleRefresh();
}

void PlotDock::ScheduleRefresh() {
    if (!refresh_.isActive()) refresh_.start();
}

void PlotDock::Refresh() {
    refresh_.stop();
    RedrawBytes();
    RedrawSnr();
    // An encode shows its SNR chart once a picture's SNR was measured.
    if (series_.kind() == PlotKind::kEncode) snrView_->setVisible(series_.HasSnr());
    UpdateSummary();
    emit refreshed();
}

void PlotDock::RedrawBytes() {
    for (int i = 0; i < 3; ++i) {
        bars_[i]->upperSeries()->replace(ToPoints(series_.Bars(kTypes[i])));
        bars_[i]->setName(
            QStringLiteral("%1 (%2)").arg(QLatin1Char(kTypes[i])).arg(series_.Count(kTypes[i])));
    }
    SetFrameRange(bytesX_, series_.FirstFrame(), series_.LastFrame());
    const double top = std::max(10.0, series_.MaxBytes() * 1.08);
    const double interval = NiceInterval(top, 6);
    SetAxis(bytesY_, 0.0, std::ceil(top / interval) * interval, interval);
}

void PlotDock::RedrawSnr() {
    const bool compare = series_.kind() == PlotKind::kCompare;
    for (int plane = 0; plane < kPlanes; ++plane) {
        const QList<QPointF> points = ToPoints(series_.Snr(plane));
        snr_[plane]->replace(points);
        // Markers while they can be told apart; a long run is a plain line.
        snr_[plane]->setPointsVisible(points.size() <= 60);
        snr_[plane]->setName(QStringLiteral("%1 %2").arg(
            compare ? QStringLiteral("PSNR") : QStringLiteral("SNR"), QLatin1String(kPlaneNames[plane])));
    }
    SetFrameRange(snrX_, series_.FirstFrame(), series_.LastFrame());
    const double floor = series_.SnrFloor(), ceiling = series_.SnrCeiling();
    SetAxis(snrY_, floor, ceiling, NiceInterval(ceiling - floor, 6));
    // Planes without error stand at the top of the axis; the axis says so when any does.
    bool identical = false;
    for (const PictureReport& p : series_.pictures()) {
        identical |=
            p.snrMeasured && (p.snrY >= kIdenticalSnr || p.snrU >= kIdenticalSnr || p.snrV >= kIdenticalSnr);
    }
    for (const FrameComparison& f : series_.comparisons()) {
        identical |= f.snrY >= kIdenticalSnr || f.snrU >= kIdenticalSnr || f.snrV >= kIdenticalSnr;
    }
    snrY_->setTitleText(identical ? QStringLiteral("dB (top: identical)") : QStringLiteral("dB"));
}

QString PlotDock::summary() const {
    return summary_->text();
}

void PlotDock::UpdateSummary() {
    QString text;
    switch (series_.kind()) {
        case PlotKind::kNone:
            text = QStringLiteral("No encode or compare has run yet.");
            break;
        case PlotKind::kEncode:
            // The legend has the count of each type.
            text = series_.pictures().size() == 1
                       ? QStringLiteral("1 picture")
                       : QStringLiteral("%1 pictures").arg(series_.pictures().size());
            break;
        case PlotKind::kCompare:
            text = series_.comparisons().size() == 1
                       ? QStringLiteral("1 frame")
                       : QStringLiteral("%1 frames").arg(series_.comparisons().size());
            break;
    }
    if (!ending_.isEmpty()) text += QStringLiteral(", ") + ending_;
    summary_->setText(text);
    summary_->setToolTip(title_);
    exportCsv_->setEnabled(series_.kind() != PlotKind::kNone);
}

bool PlotDock::WriteBytes(const QString& path, const QByteArray& bytes, QString* error) {
    const std::string target = path.toStdString();
    const FileIdentity identity = IdentifyPath(target);
    if (protectedPaths_) {
        for (const std::string& other : protectedPaths_()) {
            if (!other.empty() && IdentifyPath(other) == identity) {
                *error =
                    QString::fromStdString("Error Opening " + target + ": it is the same file as " + other);
                return false;
            }
        }
    }
    std::string failure;
    if (!WriteTextFile(target, bytes.toStdString(), &failure)) {
        *error = QString::fromStdString(failure);
        return false;
    }
    return true;
}

bool PlotDock::SaveImage(const QString& path, QString* error) {
    Refresh();
    // The image has the dock's layout, at least kLeastImageWidth wide and kLeastChartHeight per
    // chart: a hidden or small dock is laid out at that size for the drawing and put back after
    // (no event is handled in between, so nothing of it is seen on the screen).
    const int charts = int(bytesView_->isVisibleTo(plotArea_)) + int(snrView_->isVisibleTo(plotArea_));
    const QSize least(kLeastImageWidth, kLeastChartHeight * std::max(charts, 1));
    const QSize size = plotArea_->isVisible() ? plotArea_->size().expandedTo(least) : least;
    const bool relaid = size != plotArea_->size();
    auto putBack = [&] {
        if (!relaid || !plotArea_->parentWidget()->layout()) return;
        plotArea_->parentWidget()->layout()->invalidate();
        plotArea_->parentWidget()->layout()->activate();
    };
    if (relaid) {
        plotArea_->resize(size);
        plotArea_->layout()->activate();
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("Tessaro plots"));
        svg.setDescription(summary());
        QPainter painter(&svg);
        plotArea_->render(&painter);
        painter.end();
    } else {
        // A small dock gives a larger image: the charts are drawn again at a higher resolution.
        const qreal scale = std::clamp(qreal(kMinimumImageWidth) / size.width(), qreal(1), qreal(3)) *
                            plotArea_->devicePixelRatioF();
        QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::white);
        QPainter painter(&image);
        plotArea_->render(&painter);
        painter.end();
        // PNG unless the name asks for another format the image writer knows (".jpg", ".bmp").
        const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
        const char* format =
            QImageWriter::supportedImageFormats().contains(suffix) ? suffix.constData() : "PNG";
        if (!image.save(&buffer, format)) {
            *error =
                QStringLiteral("Error writing ") + path + QStringLiteral(": the image could not be encoded");
            putBack();
            return false;
        }
    }
    buffer.close();
    putBack();
    return WriteBytes(path, bytes, error);
}

bool PlotDock::ExportCsv(const QString& path, QString* error) {
    if (series_.kind() == PlotKind::kNone) {
        *error = QStringLiteral("There is no encode or compare to export yet.");
        return false;
    }
    return WriteBytes(path, QByteArray::fromStdString(series_.Csv()), error);
}

bool PlotDock::SaveImageAs() {
    const QString folder = folder_ ? folder_() : QString();
    const QString path = prompts_.SaveFile(this, QStringLiteral("Save Plots As Image"), folder,
                                           QString::fromLatin1(kImageFilter), QStringLiteral("png"));
    if (path.isEmpty()) return false;
    QString error;
    if (!SaveImage(path, &error)) {
        prompts_.Warning(this, error);
        return false;
    }
    return true;
}

bool PlotDock::ExportCsvAs() {
    QString error;
    if (series_.kind() == PlotKind::kNone) {
        prompts_.Warning(this, QStringLiteral("There is no encode or compare to export yet."));
        return false;
    }
    const QString folder = folder_ ? folder_() : QString();
    const QString path = prompts_.SaveFile(this, QStringLiteral("Export Plot Data"), folder,
                                           QString::fromLatin1(kCsvFilter), QStringLiteral("csv"));
    if (path.isEmpty()) return false;
    if (!ExportCsv(path, &error)) {
        prompts_.Warning(this, error);
        return false;
    }
    return true;
}

}  // namespace tessaro::shell
