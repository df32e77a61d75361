// The capture window driven as a user would, on the built-in test pattern with a short frame
// period: opening, the status panes, the dialogs, raw capture, capture and encoding, the
// enabling of the commands during a run, Stop Encoding, closing while capturing, source failures
// and the values kept for the next opening. Under Xvfb it also leaves a screenshot.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "CaptureDialogs.h"
#include "CaptureWindow.h"
#include "MainFrame.h"
#include "SettingsSheet.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "TestPatternSource.h"
#include "VideoFile.h"

using namespace tessaro::shell;

namespace {
constexpr int kRunTimeout = 60000;
constexpr int64_t kShortPeriod = 3000;  // microseconds between test-pattern frames

class CapturePrompts : public shelltest::ScriptedPrompts {
  public:
    void DriverWarning(QWidget*, const QString& text) override { driverWarnings << text; }
    QStringList driverWarnings;
};

QStringList LogLines(const MainFrame& frame) {
    QStringList lines;
    for (int i = 0; i < frame.logList()->count(); ++i) lines << frame.logList()->item(i)->text();
    return lines;
}

bool HasLineStarting(const QStringList& lines, const QString& start) {
    for (const QString& l : lines) {
        if (l.startsWith(start)) return true;
    }
    return false;
}
}  // namespace

class CaptureWindowTest : public QObject {
    Q_OBJECT
  private:
    QString dir_;
    std::unique_ptr<tessaro::FileSettingsStore> store_;
    std::unique_ptr<CapturePrompts> prompts_;
    std::unique_ptr<MainFrame> frame_;

    void NewFrame() {
        frame_.reset();
        frame_ = std::make_unique<MainFrame>(*store_, *prompts_);
        // An empty device folder: the test pattern is the only source.
        QDir().mkpath(dir_ + QStringLiteral("/dev"));
        frame_->SetCaptureDeviceFolder(dir_ + QStringLiteral("/dev"));
        frame_->show();
    }
    CaptureWindow* Open() {
        frame_->action(QStringLiteral("openVideoStream"))->trigger();
        CaptureWindow* c = frame_->captureWindow();
        if (c) c->job().source().SetFramePeriod(kShortPeriod);
        return c;
    }
    bool Enabled(const char* name) const { return frame_->action(QString::fromLatin1(name))->isEnabled(); }
    QString Pane(CaptureWindow* c, int i) const { return c->pane(i)->text(); }

  private slots:
    void init() {
        dir_ = shelltest::MakeScratch(QStringLiteral("capture"));
        qputenv("XDG_CONFIG_HOME", (dir_ + QStringLiteral("/config")).toUtf8());
        store_ = std::make_unique<tessaro::FileSettingsStore>(tessaro::DefaultSettingsPath());
        prompts_ = std::make_unique<CapturePrompts>();
        NewFrame();
    }
    void cleanup() {
        frame_.reset();
        prompts_.reset();
        store_.reset();
    }

    void opensOnceOnTheTestPatternWithItsPanes() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        QCOMPARE(c->windowTitle(), QStringLiteral("Video"));
        QCOMPARE(c->job().source().Name(), std::string(tessaro::TestPatternSource::kName));
        QVERIFY(!Enabled("openVideoStream"));
        QCOMPARE(frame_->OpenCaptureWindow(), c);
        int windows = 0;
        for (QMdiSubWindow* sub : frame_->findChild<QMdiArea*>()->subWindowList()) {
            if (qobject_cast<CaptureWindow*>(sub->widget())) ++windows;
        }
        QCOMPARE(windows, 1);
        // 176 x 144 x 12 bits x 30 fps / 1024 = 8910 Kbps, over 1024: shown in Mbps.
        QCOMPARE(Pane(c, 0), QStringLiteral("I420"));
        QCOMPARE(Pane(c, 1), QStringLiteral("176x144"));
        QCOMPARE(Pane(c, 2), QStringLiteral("8.7 Mbps"));
        QCOMPARE(Pane(c, 3), QStringLiteral("30.0 fps"));
        QVERIFY(frame_->findChild<QMenu*>(QStringLiteral("videoMenu"))->menuAction()->isVisible());
        QVERIFY(Enabled("startCapture") && Enabled("startEncoding") && Enabled("videoSource") &&
                Enabled("videoFormat"));
        QVERIFY(!Enabled("compare"));
        // The live picture arrives in preview mode.
        QVERIFY(frame_->action(QStringLiteral("preview"))->isChecked());
        QTRY_VERIFY(c->picturesShown() > 1);
        QCOMPARE(c->view()->picture().size(), QSize(176, 144));
        // The encoder parameters follow the source: 1000 frames of QCIF.
        QCOMPARE(frame_->settings().coder.Width, 176);
        QCOMPARE(frame_->settings().coder.EndFrame, 999);
    }

    void rawCaptureStartsAndStopsWithTheSameCommand() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        const QString out = dir_ + QStringLiteral("/live.qcif");
        prompts_->saveAnswers.push_back(out);
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QVERIFY(prompts_->titles.contains(QStringLiteral("Save As Raw YUV12 Video File")));
        QVERIFY(c->Capturing());
        QVERIFY(Enabled("startCapture"));
        QVERIFY(!Enabled("startEncoding") && !Enabled("videoSource") && !Enabled("videoFormat"));
        QVERIFY(Enabled("preview") && Enabled("overlay"));
        auto* button =
            qobject_cast<QToolButton*>(frame_->findChild<QToolBar*>(QStringLiteral("toolBar"))
                                           ->widgetForAction(frame_->action(QStringLiteral("startCapture"))));
        QVERIFY(button && button->isDown());
        QVERIFY(
            HasLineStarting(LogLines(*frame_),
                            QStringLiteral("-> Video capture started: raw YUV12 video stream at 30.0 fps")));
        // The last pane counts the frames while they come.
        QTRY_VERIFY(c->job().FrameCounter() >= 5);
        QTRY_VERIFY(!Pane(c, 3).endsWith(QStringLiteral("fps")));
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeout);
        QVERIFY(!c->Capturing());
        const int frames = c->job().FrameCounter();
        QCOMPARE(QFileInfo(out).size(), qint64{frames} * 38016);
        QVERIFY(LogLines(*frame_).contains(
            QStringLiteral("-> Video capture completed: captured %1 frames").arg(frames)));
        QCOMPARE(Pane(c, 3), QString::number(frames));
        QTRY_VERIFY(!button->isDown());
        QVERIFY(Enabled("startEncoding") && Enabled("videoSource") && Enabled("videoFormat"));
    }

    void captureAndEncodingEndsAfterTheEndFrameOfTheSheet() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        // The sheet opened from the capture window: Start is fixed at 0, End can be set.
        frame_->action(QStringLiteral("settings"))->trigger();
        SettingsSheet* sheet = frame_->openSheet();
        QVERIFY(sheet);
        auto* start = sheet->findChild<QLineEdit*>(QStringLiteral("startFrame"));
        QVERIFY(start && start->isReadOnly());
        QCOMPARE(start->text(), QStringLiteral("0"));
        sheet->findChild<QLineEdit*>(QStringLiteral("endFrame"))->setText(QStringLiteral("9"));
        sheet->tabs()->setCurrentIndex(1);
        sheet->accept();
        QTRY_VERIFY(!frame_->openSheet());
        QCOMPARE(frame_->settings().coder.EndFrame, 9);
        QCOMPARE(frame_->settings().coder.StartFrame, 0);

        const QString out = dir_ + QStringLiteral("/live.263");
        prompts_->saveAnswers.push_back(out);
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        frame_->action(QStringLiteral("startEncoding"))->trigger();
        QVERIFY(prompts_->titles.contains(QStringLiteral("Save As H263 Bitstream Video File")));
        if (c->Encoding()) {
            // Everything but Stop Encoding waits for the run.
            for (const char* name :
                 {"startCapture", "startEncoding", "videoSource", "videoFormat", "preview", "overlay"}) {
                QVERIFY2(!Enabled(name), name);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeout);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        const QStringList lines = LogLines(*frame_);
        QVERIFY(lines.contains(
            QStringLiteral("-> Video capture and encoding started: 10 frames at 30.0 fps...")));
        QVERIFY(HasLineStarting(lines, QStringLiteral("-> Capture and encoding completed (")));
        QVERIFY(HasLineStarting(lines, QStringLiteral("-> Output file ") + out));
        const QByteArray bytes = shelltest::ReadAll(out);
        QVERIFY(bytes.size() > 3);
        // Picture start code of the first picture.
        QCOMPARE(uint8_t(bytes[0]), uint8_t{0});
        QCOMPARE(uint8_t(bytes[1]), uint8_t{0});
        QCOMPARE(uint8_t(bytes[2]) & 0xfc, 0x80);
        QVERIFY(Enabled("startCapture") && Enabled("startEncoding") && Enabled("preview"));
        QVERIFY(!Enabled("stopEncoding"));
    }

    void stopEncodingEndsTheRunAtTheNextFrame() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        prompts_->saveAnswers.push_back(dir_ + QStringLiteral("/stopped.263"));
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        frame_->action(QStringLiteral("startEncoding"))->trigger();
        QTRY_VERIFY(c->job().FrameCounter() >= 3 || finished.count() > 0);
        QVERIFY(Enabled("stopEncoding"));
        frame_->action(QStringLiteral("stopEncoding"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeout);
        QVERIFY(c->job().FrameCounter() < 999);
        QVERIFY(!c->Capturing());
        QVERIFY(HasLineStarting(LogLines(*frame_), QStringLiteral("-> Output file ")));
        QVERIFY(QFileInfo(dir_ + QStringLiteral("/stopped.263")).size() > 0);
    }

    void formatDialogListsTheFormatsAndSetsTheEncoderSize() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        frame_->action(QStringLiteral("videoFormat"))->trigger();
        auto* dialog = qobject_cast<VideoFormatDialog*>(c->openDialog());
        QVERIFY(dialog);
        const std::vector<tessaro::SourceFormat> offered = c->job().source().Formats();
        QCOMPARE(dialog->formatBox()->count(), static_cast<int>(offered.size()));
        const int uyvy = dialog->formatBox()->findText(QStringLiteral("UYVY"));
        QVERIFY(uyvy >= 0);
        dialog->formatBox()->setCurrentIndex(uyvy);
        const int cif = dialog->sizeBox()->findText(QStringLiteral("352x288"));
        QVERIFY(cif >= 0);
        dialog->sizeBox()->setCurrentIndex(cif);
        QVERIFY(!dialog->widthBox()->isEnabled());
        dialog->accept();
        QTRY_VERIFY(!c->openDialog());
        QCOMPARE(Pane(c, 0), QStringLiteral("Unknown"));
        QCOMPARE(Pane(c, 1), QStringLiteral("352x288"));
        QCOMPARE(frame_->settings().coder.Width, 352);
        QCOMPARE(frame_->settings().coder.Height, 288);
        QCOMPARE(frame_->settings().coder.SourceFormat, 3);
        QCOMPARE(frame_->settings().coder.EndFrame, 999);
        QTRY_COMPARE(c->view()->picture().size(), QSize(352, 288));
        // UYVY is taken for capture: 352 x 288 x 3 / 2 bytes a frame.
        const QString out = dir_ + QStringLiteral("/uyvy.cif");
        prompts_->saveAnswers.push_back(out);
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QVERIFY(c->Capturing());
        QTRY_VERIFY(c->job().FrameCounter() >= 2);
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeout);
        QCOMPARE(QFileInfo(out).size(), qint64{c->job().FrameCounter()} * 152064);

        // A custom size through the width and height fields.
        frame_->action(QStringLiteral("videoFormat"))->trigger();
        dialog = qobject_cast<VideoFormatDialog*>(c->openDialog());
        QVERIFY(dialog);
        const int custom = dialog->sizeBox()->findText(QStringLiteral("Custom"));
        QVERIFY(custom >= 0);
        dialog->sizeBox()->setCurrentIndex(custom);
        QVERIFY(dialog->widthBox()->isEnabled());
        dialog->widthBox()->setValue(160);
        dialog->heightBox()->setValue(120);
        dialog->accept();
        QCOMPARE(Pane(c, 1), QStringLiteral("160x120"));
        QCOMPARE(frame_->settings().coder.SourceFormat, 6);
    }

    void anRgbSourceIsRefusedBeforeAnythingIsWritten() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        QVERIFY(c->ApplyFormat(tessaro::kFourccRGB24, 176, 144));
        QCOMPARE(Pane(c, 0), QStringLiteral("RGB24"));
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QCOMPARE(prompts_->warnings, QStringList{QString::fromLatin1(tessaro::kCaptureFormatRefusal)});
        QVERIFY(!prompts_->titles.contains(QStringLiteral("Save As Raw YUV12 Video File")));
        QVERIFY(!c->Capturing());
        // The format dialog is offered at once.
        QVERIFY(qobject_cast<VideoFormatDialog*>(c->openDialog()));
        c->openDialog()->reject();
        QTRY_VERIFY(!c->openDialog());
        frame_->action(QStringLiteral("startEncoding"))->trigger();
        QCOMPARE(prompts_->warnings.size(), 2);
        QVERIFY(!c->Capturing());
    }

    void sourceDialogListsTheTestPatternOnly() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        frame_->action(QStringLiteral("videoSource"))->trigger();
        auto* dialog = qobject_cast<VideoSourceDialog*>(c->openDialog());
        QVERIFY(dialog);
        QCOMPARE(dialog->list()->count(), 1);
        QCOMPARE(dialog->list()->item(0)->text(), QStringLiteral("Test Pattern"));
        QVERIFY(dialog->chosen() && dialog->chosen()->testPattern);
        dialog->accept();
        QTRY_VERIFY(!c->openDialog());
        // Connecting again to the chosen source starts its live picture afresh.
        QVERIFY(c->Reconnect(*tessaro::ListSources((dir_ + QStringLiteral("/dev")).toStdString()).begin()));
        c->job().source().SetFramePeriod(kShortPeriod);
        const int shown = c->picturesShown();
        QTRY_VERIFY(c->picturesShown() > shown);
        QCOMPARE(Pane(c, 1), QStringLiteral("176x144"));
    }

    void frameRateMenuSetsThePeriodAndThePanes() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        QAction* rate = frame_->action(QStringLiteral("frameRate4"));
        QVERIFY(rate->isEnabled());
        rate->trigger();
        QCOMPARE(c->frameRateIndex(), 4);
        QVERIFY(rate->isChecked());
        QCOMPARE(c->job().source().FramePeriod(), int64_t{100000});
        QCOMPARE(Pane(c, 3), QStringLiteral("10.0 fps"));
        // 176 x 144 x 12 x 10 / 1024 = 2970 Kbps = 2.9 Mbps.
        QCOMPARE(Pane(c, 2), QStringLiteral("2.9 Mbps"));
        frame_->action(QStringLiteral("frameRate5"))->trigger();
        QCOMPARE(Pane(c, 3), QStringLiteral("8.3 fps"));
        QCOMPARE(c->job().source().FramePeriod(), tessaro::FramePeriodOfRate(tessaro::FrameRateOfIndex(5)));
    }

    void overlayShowsEveryFrameAndIsKeptForTheNextOpening() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        QCOMPARE(c->mode(), CaptureWindow::Mode::kPreview);
        // Preview refuses to act again in preview mode; Overlay switches.
        frame_->action(QStringLiteral("preview"))->trigger();
        QCOMPARE(c->mode(), CaptureWindow::Mode::kPreview);
        frame_->action(QStringLiteral("overlay"))->trigger();
        QCOMPARE(c->mode(), CaptureWindow::Mode::kOverlay);
        QVERIFY(frame_->action(QStringLiteral("overlay"))->isChecked());
        QVERIFY(!frame_->action(QStringLiteral("preview"))->isChecked());
        const int shown = c->picturesShown();
        QTRY_VERIFY(c->picturesShown() > shown + 5);
        frame_->action(QStringLiteral("frameRate2"))->trigger();
        QVERIFY(c->parentWidget()->close());
        QTRY_VERIFY(!frame_->captureWindow());
        QTRY_VERIFY(Enabled("openVideoStream"));
        const tessaro::SettingsMap values = store_->ReadAll();
        QCOMPARE(values.at("Capture/OverlayFlag"), std::string("1"));
        QCOMPARE(values.at("Capture/FrameRate"), std::string("2"));
        NewFrame();
        c = Open();
        QVERIFY(c);
        QCOMPARE(c->mode(), CaptureWindow::Mode::kOverlay);
        QVERIFY(frame_->action(QStringLiteral("overlay"))->isChecked());
    }

    void closingWhileCapturingStopsFirst() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        const QString out = dir_ + QStringLiteral("/closed.qcif");
        prompts_->saveAnswers.push_back(out);
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QVERIFY(c->Capturing());
        QTRY_VERIFY(c->job().FrameCounter() >= 3);
        QVERIFY(c->parentWidget()->close());
        QTRY_VERIFY(!frame_->captureWindow());
        const qint64 size = QFileInfo(out).size();
        QVERIFY(size >= 3 * 38016);
        QCOMPARE(size % 38016, qint64{0});
        QVERIFY(HasLineStarting(LogLines(*frame_), QStringLiteral("-> Video capture completed: captured ")));
        // And with a capture and encoding running, the whole main frame goes safely.
        QTRY_VERIFY(Enabled("openVideoStream"));
        c = Open();
        QVERIFY(c);
        prompts_->saveAnswers.push_back(dir_ + QStringLiteral("/closed.263"));
        frame_->action(QStringLiteral("startEncoding"))->trigger();
        QTRY_VERIFY(c->job().FrameCounter() >= 2);
        QVERIFY(frame_->close());
        frame_.reset();
        QVERIFY(QFileInfo(dir_ + QStringLiteral("/closed.263")).size() > 0);
    }

    void aFailingSourceWarnsAndTheWindowStaysUsable() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        auto* pattern = dynamic_cast<tessaro::TestPatternSource*>(&c->job().source());
        QVERIFY(pattern);
        const QString out = dir_ + QStringLiteral("/failing.qcif");
        prompts_->saveAnswers.push_back(out);
        QSignalSpy finished(c, &CaptureWindow::captureFinished);
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QVERIFY(c->Capturing());
        pattern->FailAfter(0, 5, "The device was unplugged");
        QTRY_VERIFY_WITH_TIMEOUT(prompts_->driverWarnings.size() >= 1, kRunTimeout);
        QVERIFY(prompts_->driverWarnings.front().contains(QStringLiteral("The device was unplugged")));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRunTimeout);
        QVERIFY(!c->Capturing());
        QCOMPARE(QFileInfo(out).size() % 38016, qint64{0});
        QTRY_VERIFY(Enabled("startCapture") && Enabled("videoSource") && Enabled("videoFormat"));
        // Choosing the source again in the Video Source dialog connects it afresh.
        QTRY_VERIFY(!c->job().source().Capturing());
        frame_->action(QStringLiteral("videoSource"))->trigger();
        QVERIFY(c->openDialog());
        c->openDialog()->accept();
        QTRY_VERIFY(c->job().source().Capturing());
        c->job().source().SetFramePeriod(kShortPeriod);
        const int shown = c->picturesShown();
        QTRY_VERIFY(c->picturesShown() > shown);
        QVERIFY(frame_->captureWindow() == c);
    }

    void aSourceFailingDuringThePreviewOnlyWarns() {
        CaptureWindow* c = Open();
        QVERIFY(c);
        auto* pattern = dynamic_cast<tessaro::TestPatternSource*>(&c->job().source());
        QVERIFY(pattern);
        pattern->FailAfter(0, 7, "No signal");
        QTRY_COMPARE(prompts_->driverWarnings.value(0), QStringLiteral("No signal"));
        QVERIFY(!c->Capturing());
        QVERIFY(Enabled("startCapture") && Enabled("startEncoding") && Enabled("videoFormat"));
        QCOMPARE(Pane(c, 1), QStringLiteral("176x144"));
    }

    void aRecentEntryEndingInVideoOpensTheCaptureWindow() {
        // Opening the stream puts "Video" first in the recent list.
        QVERIFY(Open());
        QCOMPARE(frame_->RecentFiles().value(0), QStringLiteral("Video"));
        QCOMPARE(store_->ReadAll().at("Recent/File1"), std::string("Video"));
        store_->Update([](tessaro::SettingsMap& m) {
            m["Recent/File1"] = "/somewhere/Live Video";
            m["Recent/File2"] = "Video";
        });
        NewFrame();
        QAction* recent = frame_->findChild<QAction*>(QStringLiteral("recent1"));
        QVERIFY(recent);
        recent->trigger();
        QVERIFY(frame_->captureWindow());
        QCOMPARE(frame_->captureWindow()->windowTitle(), QStringLiteral("Video"));
    }

    void screenshotUnderXvfb() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("needs an X server (xvfb-run)");
        frame_->resize(900, 700);
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
        CaptureWindow* c = Open();
        QVERIFY(c);
        frame_->action(QStringLiteral("frameRate0"))->trigger();
        QVERIFY(c->ApplyFormat(tessaro::kFourccYUY2, 352, 288));
        QTRY_COMPARE(c->view()->picture().size(), QSize(352, 288));
        prompts_->saveAnswers.push_back(dir_ + QStringLiteral("/shot.cif"));
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QTRY_VERIFY(c->job().FrameCounter() >= 20);
        c->UpdatePanes();
        QDir().mkpath(QStringLiteral(TESSARO_ARTIFACTS));
        QVERIFY(frame_->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-capture.png")));
        frame_->action(QStringLiteral("startCapture"))->trigger();
        QTRY_VERIFY(!c->Capturing());
    }
};

QTEST_MAIN(CaptureWindowTest)
#include "CaptureWindowTest.moc"
