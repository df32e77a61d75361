// The plot dock and the difference view driven through the main frame as a user would: the plots
// of an encode and of a compare against the command line's CSV of the same run, following a run
// live, PNG, SVG and CSV saves, the View menu entry and the remembered layout, the difference of
// equal and of different sequences stepping with the first window. Under Xvfb one more case leaves
// screenshots of the views in test-artifacts/.
#include <QAction>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QSvgRenderer>
#include <QTest>
#include <memory>

#include "CaptureWindow.h"
#include "DifferenceImage.h"
#include "DifferenceWindow.h"
#include "JobBridge.h"
#include "MainFrame.h"
#include "PlotDock.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "SyntheticSequence.h"
#include "VideoWindow.h"

using namespace tessaro::shell;
using shelltest::ScriptedPrompts;

namespace {
constexpr int kJobTimeout = 120000;

// One data row of a CSV file the command line wrote.
struct CsvRow {
    int frame = 0;
    char type = 0;  // encode rows only
    uint32_t bytes = 0;
    bool snr = false;
    double y = 0, u = 0, v = 0;
};

std::vector<CsvRow> ParseCsv(const QByteArray& text, bool encode) {
    std::vector<CsvRow> rows;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) continue;
        const QList<QByteArray> cells = lines[i].split(',');
        CsvRow r;
        r.frame = cells.value(0).toInt();
        qsizetype at = 1;
        if (encode) {
            r.type = cells.value(1).isEmpty() ? 0 : cells.value(1)[0];
            r.bytes = cells.value(2).toUInt();
            at = 3;
        }
        r.snr = !cells.value(at).isEmpty();
        r.y = cells.value(at).toDouble(), r.u = cells.value(at + 1).toDouble(),
        r.v = cells.value(at + 2).toDouble();
        rows.push_back(r);
    }
    return rows;
}

// A sequence of the synthetic generator with a seed of its own (the helper's files all use seed 1).
bool WriteSeeded(const QString& path, int width, int height, int frames, uint32_t seed) {
    tessaro::SyntheticOptions o;
    o.width = width, o.height = height, o.frames = frames, o.seed = seed;
    const std::vector<uint8_t> bytes = tessaro::GenerateSyntheticSequence(o);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(bytes.data()),
                                                         qint64(bytes.size())) == qint64(bytes.size());
}

bool AllBlack(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] != 0) return false;
        }
    }
    return true;
}

}  // namespace

class PlotWindowTest : public QObject {
    Q_OBJECT
  private:
    QString dir_;
    std::unique_ptr<tessaro::FileSettingsStore> store_;
    std::unique_ptr<ScriptedPrompts> prompts_;
    std::unique_ptr<MainFrame> frame_;
    QString qcif_;  // 12 QCIF frames

    int RunCli(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(TESSARO_BIN_DIR "/tessaro-cli"), args);
        if (!p.waitForFinished(kJobTimeout)) return -1;
        return p.exitCode();
    }
    MainFrame& Frame() { return *frame_; }
    PlotDock& Dock() { return *frame_->plotDock(); }
    void NewFrame() {
        frame_.reset();
        frame_ = std::make_unique<MainFrame>(*store_, *prompts_);
        frame_->show();
    }
    // I-, P- and B-pictures with their SNR measured; read by the window and tessaro-cli alike.
    void CodeWithBPicturesAndSnr() {
        store_->Update([](tessaro::SettingsMap& m) {
            for (const char* key : {"General/ShowSNR", "Advanced/UseTrueBPictures", "Advanced/BPictures"}) {
                m.insert_or_assign(key, std::string("1"));
            }
            m.insert_or_assign("Coder/IFramePeriod", std::string("6"));
        });
        NewFrame();
    }
    // Encodes `input` from its window and waits for the end of the run.
    bool EncodeFromWindow(const QString& input, const QString& output) {
        VideoWindow* w = Frame().OpenFile(input);
        if (!w) return false;
        prompts_->saveAnswers = {output};
        QSignalSpy done(&Frame(), &MainFrame::encodingFinished);
        Frame().action("startEncoding")->trigger();
        return QTest::qWaitFor([&] { return done.count() == 1; }, kJobTimeout) &&
               done.first().first().toBool();
    }
    bool CompareFromWindow(const QString& first, const QString& second) {
        if (!Frame().OpenFile(first)) return false;
        prompts_->openAnswers = {second};
        QSignalSpy done(&Frame(), &MainFrame::comparisonFinished);
        Frame().action("compare")->trigger();
        return QTest::qWaitFor([&] { return done.count() == 1; }, kJobTimeout) &&
               done.first().first().toBool();
    }

  private slots:
    void init() {
        dir_ = shelltest::MakeScratch(QStringLiteral("plots"));
        qputenv("XDG_CONFIG_HOME", (dir_ + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (dir_ + QStringLiteral("/cache")).toUtf8());
        store_ = std::make_unique<tessaro::FileSettingsStore>(tessaro::DefaultSettingsPath());
        prompts_ = std::make_unique<ScriptedPrompts>();
        qcif_ = dir_ + QStringLiteral("/seq.qcif");
        QVERIFY(shelltest::WriteSequence(qcif_, 176, 144, 12));
        NewFrame();
    }
    void cleanup() {
        frame_.reset();
        prompts_.reset();
        store_.reset();
    }

    void viewMenuTogglesThePlotsAndTheLayoutIsRemembered() {
        QAction* plots = Frame().action(QStringLiteral("plots"));
        QVERIFY(plots);
        QCOMPARE(plots->text(), QStringLiteral("&Plots"));
        QVERIFY(!plots->statusTip().isEmpty());
        QVERIFY(plots->isCheckable());
        QVERIFY(Frame().findChild<QMenu*>(QStringLiteral("viewMenu"))->actions().contains(plots));
        auto* dock = Frame().findChild<QDockWidget*>(QStringLiteral("plotDock"));
        QCOMPARE(dock, static_cast<QDockWidget*>(&Dock()));
        QVERIFY(dock->isHidden());
        QVERIFY(!plots->isChecked());
        QCOMPARE(Dock().summary(), QStringLiteral("No encode or compare has run yet."));
        plots->trigger();
        QVERIFY(dock->isVisible());
        QVERIFY(plots->isChecked());
        // Beside the log bar, in the same area.
        QCOMPARE(Frame().dockWidgetArea(dock), Qt::BottomDockWidgetArea);
        QCOMPARE(Frame().dockWidgetArea(Frame().findChild<QDockWidget*>(QStringLiteral("logBar"))),
                 Qt::BottomDockWidgetArea);
        // Its place and its visibility come back on the next start, with the other docks'.
        Frame().addDockWidget(Qt::RightDockWidgetArea, dock);
        QVERIFY(Frame().close());
        NewFrame();
        dock = Frame().findChild<QDockWidget*>(QStringLiteral("plotDock"));
        QVERIFY(dock->isVisible());
        QCOMPARE(Frame().dockWidgetArea(dock), Qt::RightDockWidgetArea);
        Frame().action(QStringLiteral("plots"))->trigger();
        QVERIFY(dock->isHidden());
        QVERIFY(Frame().close());
        NewFrame();
        QVERIFY(Frame().findChild<QDockWidget*>(QStringLiteral("plotDock"))->isHidden());
    }

    // The charts of a window encode hold exactly the pictures that tessaro-cli reports for the
    // same settings, and the dock's CSV export is its --csv file byte for byte.
    void encodePlotsEqualTheReportsAndTheCsvOfTheCommandLine() {
        CodeWithBPicturesAndSnr();
        Frame().action(QStringLiteral("plots"))->trigger();
        QVERIFY(EncodeFromWindow(qcif_, dir_ + QStringLiteral("/window.263")));
        const QString cliCsv = dir_ + QStringLiteral("/cli.csv");
        QCOMPARE(RunCli({QStringLiteral("encode"), qcif_, QStringLiteral("-o"),
                         dir_ + QStringLiteral("/cli.263"), QStringLiteral("--csv"), cliCsv}),
                 0);
        const QByteArray expected = shelltest::ReadAll(cliCsv);
        const std::vector<CsvRow> rows = ParseCsv(expected, true);
        QVERIFY(rows.size() >= 10);
        QCOMPARE(Dock().series().kind(), PlotKind::kEncode);
        QCOMPARE(Dock().series().pictures().size(), rows.size());
        QCOMPARE(QByteArray::fromStdString(Dock().series().Csv()), expected);

        // The bars: per type, one bar of the picture's bytes at its frame, in frame order.
        for (char type : {'I', 'P', 'B'}) {
            std::vector<CsvRow> ofType;
            for (const CsvRow& r : rows) {
                if (r.type == type) ofType.push_back(r);
            }
            QVERIFY2(!ofType.empty(), &type);
            std::sort(ofType.begin(), ofType.end(),
                      [](const CsvRow& a, const CsvRow& b) { return a.frame < b.frame; });
            const QList<QPointF> bars = Dock().barSeries(type)->upperSeries()->points();
            QCOMPARE(bars.size(), qsizetype(ofType.size() * 4));
            for (size_t i = 0; i < ofType.size(); ++i) {
                QCOMPARE(bars[qsizetype(i * 4 + 1)],
                         QPointF(ofType[i].frame - kBarHalfWidth, ofType[i].bytes));
                QCOMPARE(bars[qsizetype(i * 4 + 2)],
                         QPointF(ofType[i].frame + kBarHalfWidth, ofType[i].bytes));
            }
            QCOMPARE(Dock().barSeries(type)->name(),
                     QStringLiteral("%1 (%2)").arg(QLatin1Char(type)).arg(ofType.size()));
        }
        // The SNR lines: every picture, by frame, the values of the CSV (which has two decimals).
        std::vector<CsvRow> byFrame = rows;
        std::sort(byFrame.begin(), byFrame.end(),
                  [](const CsvRow& a, const CsvRow& b) { return a.frame < b.frame; });
        QVERIFY(Dock().snrView()->isVisible());
        for (int plane = 0; plane < kPlanes; ++plane) {
            const QList<QPointF> line = Dock().snrSeries(plane)->points();
            QCOMPARE(line.size(), qsizetype(byFrame.size()));
            for (size_t i = 0; i < byFrame.size(); ++i) {
                QVERIFY(byFrame[i].snr);
                const double want = plane == 0 ? byFrame[i].y : plane == 1 ? byFrame[i].u : byFrame[i].v;
                QCOMPARE(line[qsizetype(i)].x(), double(byFrame[i].frame));
                QVERIFY2(std::abs(line[qsizetype(i)].y() - want) <= 0.005, qPrintable(QString::number(want)));
            }
        }
        QVERIFY(Dock().summary().endsWith(QStringLiteral(", completed")));
        QVERIFY(Dock().summary().startsWith(QStringLiteral("%1 pictures").arg(rows.size())));
        QCOMPARE(Dock().bytesChart()->title(), QStringLiteral("Encode of seq.qcif: bytes per picture"));

        // Export CSV through its command: the same bytes.
        const QString exported = dir_ + QStringLiteral("/plot.csv");
        prompts_->saveAnswers = {exported};
        Dock().exportCsvAction()->trigger();
        QCOMPARE(prompts_->titles.last(), QStringLiteral("Export Plot Data"));
        QVERIFY(prompts_->warnings.isEmpty());
        QCOMPARE(shelltest::ReadAll(exported), expected);
    }

    // Without SNR measured there is no SNR chart and the CSV has empty SNR cells.
    void encodeWithoutSnrShowsOnlyTheBytes() {
        Frame().action(QStringLiteral("plots"))->trigger();
        QVERIFY(EncodeFromWindow(qcif_, dir_ + QStringLiteral("/plain.263")));
        QCOMPARE(Dock().series().pictures().size(), size_t{12});
        QVERIFY(Dock().bytesView()->isVisible());
        QVERIFY(!Dock().snrView()->isVisible());
        QCOMPARE(Dock().snrSeries(0)->count(), 0);
        QCOMPARE(
            Dock().barSeries('I')->upperSeries()->count() + Dock().barSeries('P')->upperSeries()->count(),
            48);
        const QString cliCsv = dir_ + QStringLiteral("/plain.csv");
        QCOMPARE(RunCli({QStringLiteral("encode"), qcif_, QStringLiteral("-o"),
                         dir_ + QStringLiteral("/cli.263"), QStringLiteral("--csv"), cliCsv}),
                 0);
        QCOMPARE(QByteArray::fromStdString(Dock().series().Csv()), shelltest::ReadAll(cliCsv));
    }

    // While a run goes the charts grow with it; a stopped run keeps what was coded.
    void plotsFollowTheRunLive() {
        const QString big = dir_ + QStringLiteral("/big.4cif");
        QVERIFY(shelltest::WriteSequence(big, 704, 576, 60));
        Frame().action(QStringLiteral("plots"))->trigger();
        VideoWindow* w = Frame().OpenFile(big);
        QVERIFY(w);
        prompts_->saveAnswers = {dir_ + QStringLiteral("/big.263")};
        QSignalSpy done(&Frame(), &MainFrame::encodingFinished);
        Frame().action("startEncoding")->trigger();
        QVERIFY(Dock().summary().endsWith(QStringLiteral(", running")));
        QTRY_VERIFY_WITH_TIMEOUT(Dock().barSeries('P')->upperSeries()->count() >= 8, kJobTimeout);
        QVERIFY(Frame().EncodeRunning());
        QCOMPARE(done.count(), 0);
        Frame().StopEncoding();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        QCOMPARE(done.first().first().toBool(), false);
        const size_t coded = Dock().series().pictures().size();
        QVERIFY(coded >= 3 && coded < 60);
        QCOMPARE(
            Dock().barSeries('P')->upperSeries()->count() + Dock().barSeries('I')->upperSeries()->count(),
            qsizetype(coded * 4));
        QVERIFY(Dock().summary().endsWith(QStringLiteral(", stopped")));
    }

    void comparePlotsThePsnrOfEveryFrame() {
        const QString other = dir_ + QStringLiteral("/other.qcif");
        QVERIFY(WriteSeeded(other, 176, 144, 9, 2));
        Frame().action(QStringLiteral("plots"))->trigger();
        QVERIFY(CompareFromWindow(qcif_, other));
        const QString cliCsv = dir_ + QStringLiteral("/compare.csv");
        QCOMPARE(RunCli({QStringLiteral("compare"), qcif_, other, QStringLiteral("--csv"), cliCsv}), 0);
        const QByteArray expected = shelltest::ReadAll(cliCsv);
        const std::vector<CsvRow> rows = ParseCsv(expected, false);
        QCOMPARE(rows.size(), size_t{9});
        QCOMPARE(Dock().series().kind(), PlotKind::kCompare);
        QCOMPARE(QByteArray::fromStdString(Dock().series().Csv()), expected);
        QVERIFY(!Dock().bytesView()->isVisible());
        QVERIFY(Dock().snrView()->isVisible());
        for (int plane = 0; plane < kPlanes; ++plane) {
            const QList<QPointF> line = Dock().snrSeries(plane)->points();
            QCOMPARE(line.size(), qsizetype(9));
            for (int i = 0; i < 9; ++i) {
                const double want = plane == 0 ? rows[i].y : plane == 1 ? rows[i].u : rows[i].v;
                QCOMPARE(line[i].x(), double(i));
                QVERIFY(std::abs(line[i].y() - want) <= 0.005);
            }
        }
        QCOMPARE(Dock().snrSeries(0)->name(), QStringLiteral("PSNR Y"));
        QCOMPARE(Dock().summary(), QStringLiteral("9 frames, completed"));
        QCOMPARE(Dock().snrChart()->title(),
                 QStringLiteral("Compare of seq.qcif and other.qcif: PSNR per frame"));
        const QString exported = dir_ + QStringLiteral("/exported.csv");
        prompts_->saveAnswers = {exported};
        QVERIFY(Dock().ExportCsvAs());
        QCOMPARE(shelltest::ReadAll(exported), expected);
    }

    void savesPngAndSvgAndNeverOverAnInput() {
        const QString copy = dir_ + QStringLiteral("/copy.qcif");
        QVERIFY(WriteSeeded(copy, 176, 144, 12, 3));
        QVERIFY(CompareFromWindow(qcif_, copy));
        // Hidden dock: the image is drawn at a size of its own.
        QVERIFY(Dock().isHidden());
        const QString png = dir_ + QStringLiteral("/plots.png");
        prompts_->saveAnswers = {png};
        Dock().saveImageAction()->trigger();
        QCOMPARE(prompts_->titles.last(), QStringLiteral("Save Plots As Image"));
        QVERIFY2(prompts_->warnings.isEmpty(), qPrintable(prompts_->warnings.join(QLatin1Char('\n'))));
        QImage image(png);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() >= 400 && image.height() >= 200);
        // Not a blank picture: the chart's lines and labels are there.
        int marked = 0;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) marked += image.pixelColor(x, y) != QColor(Qt::white);
        }
        QVERIFY(marked > 500);
        Frame().action(QStringLiteral("plots"))->trigger();
        const QString svg = dir_ + QStringLiteral("/plots.SVG");
        QString error;
        QVERIFY2(Dock().SaveImage(svg, &error), qPrintable(error));
        const QByteArray text = shelltest::ReadAll(svg);
        QVERIFY(text.contains("<svg"));
        QVERIFY(text.contains("</svg>"));
        QVERIFY(text.contains("PSNR"));
        QVERIFY(QSvgRenderer(text).isValid());
        // Another raster format when the name asks for it.
        QVERIFY(Dock().SaveImage(dir_ + QStringLiteral("/plots.jpg"), &error));
        QVERIFY(shelltest::ReadAll(dir_ + QStringLiteral("/plots.jpg")).startsWith("\xff\xd8"));
        // An existing file is replaced whole; a small dock is drawn at a readable size and keeps
        // its own.
        QWidget* area = Dock().findChild<QWidget*>(QStringLiteral("plotArea"));
        QTRY_VERIFY(area->isVisible());
        const QSize layout = area->size();
        QVERIFY(layout.width() < 800);
        QVERIFY(Dock().SaveImage(png, &error));
        QCOMPARE(area->size(), layout);
        QVERIFY(QImage(png).width() >= 1200);
        QVERIFY(QImage(png).height() >= 320);
        // The open sequences are never written over, whatever the name says.
        const QByteArray before = shelltest::ReadAll(copy);
        prompts_->saveAnswers = {copy};
        QVERIFY(!Dock().SaveImageAs());
        QVERIFY(prompts_->warnings.last().startsWith(QStringLiteral("Error Opening ") + copy));
        QVERIFY(prompts_->warnings.last().contains(QStringLiteral("same file")));
        const QString link = dir_ + QStringLiteral("/link.qcif");
        QVERIFY(QFile::link(qcif_, link));
        const QByteArray first = shelltest::ReadAll(qcif_);
        QVERIFY(!Dock().ExportCsv(link, &error));
        QCOMPARE(shelltest::ReadAll(copy), before);
        QCOMPARE(shelltest::ReadAll(qcif_), first);
        // A folder that cannot be written: a message, nothing left behind.
        QVERIFY(!Dock().SaveImage(dir_ + QStringLiteral("/missing/plots.png"), &error));
        QVERIFY(error.startsWith(QStringLiteral("Error Opening ")));
        QVERIFY(!QDir(dir_ + QStringLiteral("/missing")).exists());
    }

    void exportBeforeAnyRunIsRefused() {
        prompts_->saveAnswers = {dir_ + QStringLiteral("/nothing.csv")};
        QVERIFY(!Dock().ExportCsvAs());
        QCOMPARE(prompts_->warnings.last(), QStringLiteral("There is no encode or compare to export yet."));
        QVERIFY(!QFile::exists(dir_ + QStringLiteral("/nothing.csv")));
        QVERIFY(!Dock().exportCsvAction()->isEnabled());
    }

    // Capture and encoding from the live-video window is plotted like an encode.
    void captureEncodingIsPlottedToo() {
        QDir().mkpath(dir_ + QStringLiteral("/dev"));
        Frame().SetCaptureDeviceFolder(dir_ + QStringLiteral("/dev"));  // the test pattern only
        Frame().action(QStringLiteral("openVideoStream"))->trigger();
        CaptureWindow* c = Frame().captureWindow();
        QVERIFY(c);
        c->job().source().SetFramePeriod(3000);
        prompts_->saveAnswers = {dir_ + QStringLiteral("/capture.263")};
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        Frame().action(QStringLiteral("startEncoding"))->trigger();
        QVERIFY(c->Encoding());
        QCOMPARE(Dock().bytesChart()->title(), QStringLiteral("Capture encoding: bytes per picture"));
        QTRY_VERIFY_WITH_TIMEOUT(Dock().series().pictures().size() >= 3, kJobTimeout);
        Frame().action(QStringLiteral("stopEncoding"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kJobTimeout);
        const std::vector<tessaro::PictureReport>& pictures = Dock().series().pictures();
        QCOMPARE(pictures.front().type, 'I');
        QCOMPARE(pictures.front().frame, 0);
        for (size_t i = 1; i < pictures.size(); ++i) QVERIFY(pictures[i].frame > pictures[i - 1].frame);
        QVERIFY(Dock().summary().endsWith(QStringLiteral(", stopped")));
        QCOMPARE(
            Dock().barSeries('I')->upperSeries()->count() + Dock().barSeries('P')->upperSeries()->count(),
            qsizetype(pictures.size() * 4));
    }

    // An encode and a compare may run together: the dock shows the run started last, and the
    // other's reports and its end leave it alone.
    void dockFollowsOnlyTheLatestRun() {
        JobBridge encode, compare;
        Dock().Follow(&encode, PlotKind::kEncode, QStringLiteral("Encode of a"));
        tessaro::PictureReport picture;
        picture.type = 'I';
        picture.bytes = 500;
        encode.Picture(picture);
        QCOMPARE(Dock().series().pictures().size(), size_t{1});
        Dock().Follow(&compare, PlotKind::kCompare, QStringLiteral("Compare of a and b"));
        QVERIFY(Dock().series().empty());
        encode.Picture(picture);
        tessaro::JobResult result;
        result.completed = true;
        encode.Finished(result);
        compare.Compared(tessaro::FrameComparison{0, 30.0, 40.0, 40.0});
        Dock().Refresh();
        QCOMPARE(Dock().series().pictures().size(), size_t{0});
        QCOMPARE(Dock().series().comparisons().size(), size_t{1});
        QCOMPARE(Dock().summary(), QStringLiteral("1 frame, running"));
        compare.Finished(result);
        QCOMPARE(Dock().summary(), QStringLiteral("1 frame, completed"));
        QCOMPARE(Dock().snrSeries(0)->count(), 1);
    }

    // An identical copy: every difference picture is black and the status bar says identical.
    void differenceOfAFileWithItsCopyIsBlack() {
        const QString copy = dir_ + QStringLiteral("/same.qcif");
        QVERIFY(QFile::copy(qcif_, copy));
        QVERIFY(CompareFromWindow(qcif_, copy));
        DifferenceWindow* d = Frame().differenceWindow();
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QStringLiteral("Difference: seq.qcif - same.qcif"));
        // The first window stays active, so its slider and commands are at hand.
        QCOMPARE(Frame().ActiveVideoWindow()->windowTitle(), QStringLiteral("seq.qcif"));
        VideoWindow* first = Frame().ActiveVideoWindow();
        for (int frame : {0, 5, 11}) {
            first->slider()->setValue(frame);
            QCOMPARE(d->frame(), frame);
            QCOMPARE(d->image().size(), QSize(176, 144));
            QVERIFY(AllBlack(d->image()));
            QCOMPARE(d->largestDifference(), 0);
            QCOMPARE(d->statusText(),
                     QStringLiteral("Frame %1: identical (PSNR Y = U = V = 1000.00 dB)").arg(frame));
        }
        // At the highest gain too.
        d->SetGain(32);
        QVERIFY(AllBlack(d->image()));
        // The view's own drawing of it is black as well.
        QImage shown = d->view()->grab().toImage();
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::black));
    }

    void differenceOfTwoFilesStepsWithTheFirstWindow() {
        const QString other = dir_ + QStringLiteral("/other.qcif");
        QVERIFY(WriteSeeded(other, 176, 144, 8, 2));
        QVERIFY(CompareFromWindow(qcif_, other));
        DifferenceWindow* d = Frame().differenceWindow();
        QVERIFY(d);
        VideoWindow* first = Frame().ActiveVideoWindow();
        QCOMPARE(d->frame(), 0);
        QVERIFY(!AllBlack(d->image()));
        QVERIFY(d->largestDifference() > 0);
        // The slider of the first window steps it, and the status bar has that frame's PSNR as
        // the compare measured it.
        QSignalSpy shown(d, &DifferenceWindow::frameShown);
        first->slider()->setValue(3);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(d->frame(), 3);
        const tessaro::FrameComparison& f = Dock().series().comparisons().at(3);
        QCOMPARE(d->snrY(), f.snrY);
        QCOMPARE(d->snrV(), f.snrV);
        QCOMPARE(d->statusText(), QStringLiteral("Frame 3: PSNR Y %1, U %2, V %3 dB")
                                      .arg(f.snrY, 0, 'f', 2)
                                      .arg(f.snrU, 0, 'f', 2)
                                      .arg(f.snrV, 0, 'f', 2));
        QCOMPARE(d->findChild<QLabel*>(QStringLiteral("largestDifference"))->text(),
                 QStringLiteral("Largest difference: %1").arg(d->largestDifference()));
        // More gain, brighter picture (never darker).
        QCOMPARE(d->gain(), kDefaultDifferenceGain);
        const QImage x8 = d->image();
        d->SetGain(16);
        QCOMPARE(d->gainBox()->currentText(), QStringLiteral("x16"));
        const QImage x16 = d->image();
        qint64 sum8 = 0, sum16 = 0;
        for (int y = 0; y < x8.height(); ++y) {
            for (int x = 0; x < x8.width(); ++x) {
                QVERIFY(x16.constScanLine(y)[x] >= x8.constScanLine(y)[x]);
                sum8 += x8.constScanLine(y)[x], sum16 += x16.constScanLine(y)[x];
            }
        }
        QVERIFY(sum16 > sum8);
        // A frame past the end of the second sequence has no difference and says so.
        first->slider()->setValue(10);
        QCOMPARE(d->frame(), 10);
        QVERIFY(d->image().isNull());
        QCOMPARE(d->statusText(), QStringLiteral("Frame 10: other.qcif has only 8 frames"));
        // Playback steps it too.
        first->slider()->setValue(0);
        first->TogglePlayback();
        QTRY_VERIFY(d->frame() >= 2);
        first->TogglePlayback();
        QCOMPARE(d->frame(), first->currentFrame());
        // It goes with the first sequence's window.
        QVERIFY(Frame().CloseVideoWindow(first));
        QTRY_VERIFY(!Frame().differenceWindow());
    }

    // A second compare replaces the difference view; closing the second sequence closes it too.
    void anotherCompareReplacesTheDifferenceView() {
        const QString a = dir_ + QStringLiteral("/a.qcif"), b = dir_ + QStringLiteral("/b.qcif");
        QVERIFY(WriteSeeded(a, 176, 144, 4, 5));
        QVERIFY(WriteSeeded(b, 176, 144, 4, 6));
        QVERIFY(CompareFromWindow(qcif_, a));
        QPointer<DifferenceWindow> old = Frame().differenceWindow();
        QVERIFY(CompareFromWindow(qcif_, b));
        QTRY_VERIFY(!old);
        QVERIFY(Frame().differenceWindow());
        QCOMPARE(Frame().differenceWindow()->windowTitle(), QStringLiteral("Difference: seq.qcif - b.qcif"));
        VideoWindow* second = nullptr;
        for (VideoWindow* w : Frame().VideoWindows()) {
            if (w->windowTitle() == QStringLiteral("b.qcif")) second = w;
        }
        QVERIFY(second);
        QVERIFY(Frame().CloseVideoWindow(second));
        QTRY_VERIFY(!Frame().differenceWindow());
    }

    // Under Xvfb: the plot dock after an encode and after a compare of the source with the
    // decoded bitstream, and the difference view of that compare. The foreman QCIF sequence when
    // the shared data is there, else a synthetic one.
    void screenshotsUnderXvfb() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("needs an X server (xvfb-run)");
        CodeWithBPicturesAndSnr();
        QString source = QStringLiteral(TESSARO_SHARED_DATA "/foreman.qcif");
        if (!QFile::exists(source)) {
            source = dir_ + QStringLiteral("/clip.qcif");
            QVERIFY(shelltest::WriteSequence(source, 176, 144, 60));
        }
        Frame().resize(1200, 900);
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
        Frame().action(QStringLiteral("plots"))->trigger();
        const QString stream = dir_ + QStringLiteral("/clip.263");
        QVERIFY(EncodeFromWindow(source, stream));
        QDir().mkpath(QStringLiteral(TESSARO_ARTIFACTS));
        QTRY_VERIFY(Frame().grab().save(QStringLiteral(TESSARO_ARTIFACTS "/plots-encode-main.png")));
        QVERIFY(Dock().grab().save(QStringLiteral(TESSARO_ARTIFACTS "/plots-encode.png")));
        QString error;
        const QString svg = QStringLiteral(TESSARO_ARTIFACTS "/plots-encode-saved.svg");
        QVERIFY2(Dock().SaveImage(svg, &error), qPrintable(error));
        // The SVG as another program would draw it, to be looked at beside the PNGs.
        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());
        QImage drawn(renderer.defaultSize() * 2, QImage::Format_ARGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        renderer.render(&painter);
        painter.end();
        QVERIFY(drawn.save(QStringLiteral(TESSARO_ARTIFACTS "/plots-encode-saved-svg.png")));
        const QString decoded = dir_ + QStringLiteral("/decoded.qcif");
        QCOMPARE(RunCli({QStringLiteral("decode"), stream, QStringLiteral("-o"), decoded}), 0);
        QVERIFY(CompareFromWindow(source, decoded));
        VideoWindow* first = Frame().ActiveVideoWindow();
        first->slider()->setValue(12);
        QVERIFY(Dock().grab().save(QStringLiteral(TESSARO_ARTIFACTS "/plots-compare.png")));
        QVERIFY2(Dock().SaveImage(QStringLiteral(TESSARO_ARTIFACTS "/plots-compare-saved.png"), &error),
                 qPrintable(error));
        DifferenceWindow* d = Frame().differenceWindow();
        QVERIFY(d);
        QVERIFY(!AllBlack(d->image()));
        QVERIFY(d->parentWidget()->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/difference-view.png")));
        QVERIFY(Frame().grab().save(QStringLiteral(TESSARO_ARTIFACTS "/plots-compare-main.png")));
        QVERIFY(Frame().close());
    }
};

QTEST_MAIN(PlotWindowTest)
#include "PlotWindowTest.moc"
