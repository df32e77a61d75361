// The main frame and its video windows driven as a user would: opening every kind of file and
// every failure, zoom and playback, the log bar, the jobs, the settings sheet, closing while busy.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "CaptureWindow.h"
#include "MainFrame.h"
#include "SettingsSheet.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "VideoWindow.h"

using namespace tessaro::shell;
using shelltest::ScriptedPrompts;

namespace {
constexpr int kJobTimeout = 120000;

QStringList LogLines(const MainFrame& frame) {
    QStringList lines;
    for (int i = 0; i < frame.logList()->count(); ++i) lines << frame.logList()->item(i)->text();
    return lines;
}
}  // namespace

class ShellWindowTest : public QObject {
    Q_OBJECT
  private:
    QString dir_;
    std::unique_ptr<tessaro::FileSettingsStore> store_;
    std::unique_ptr<ScriptedPrompts> prompts_;
    std::unique_ptr<MainFrame> frame_;
    QString qcif_;  // 10 QCIF frames

    QString Cli() const { return QStringLiteral(TESSARO_BIN_DIR "/tessaro-cli"); }
    int RunCli(const QStringList& args) {
        QProcess p;
        p.start(Cli(), args);
        if (!p.waitForFinished(kJobTimeout)) return -1;
        return p.exitCode();
    }
    MainFrame& Frame() { return *frame_; }
    void NewFrame() {
        frame_.reset();
        frame_ = std::make_unique<MainFrame>(*store_, *prompts_);
        frame_->show();
    }

  private slots:
    void init() {
        dir_ = shelltest::MakeScratch(QStringLiteral("window"));
        // The window and tessaro-cli share this settings file.
        qputenv("XDG_CONFIG_HOME", (dir_ + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (dir_ + QStringLiteral("/cache")).toUtf8());
        store_ = std::make_unique<tessaro::FileSettingsStore>(tessaro::DefaultSettingsPath());
        prompts_ = std::make_unique<ScriptedPrompts>();
        qcif_ = dir_ + QStringLiteral("/seq.qcif");
        QVERIFY(shelltest::WriteSequence(qcif_, 176, 144, 10));
        NewFrame();
    }
    void cleanup() {
        frame_.reset();
        prompts_.reset();
        store_.reset();
    }

    void startsWithTitleMenusAndLogBar() {
        QCOMPARE(Frame().windowTitle(), QStringLiteral("Tessaro"));
        // An empty store: the log is on, so the bar is shown.
        QVERIFY(Frame().LogBarShown());
        QVERIFY(!Frame().action("startEncoding")->isEnabled());
        QVERIFY(!Frame().action("stopEncoding")->isEnabled());
        QVERIFY(Frame().action("openVideoStream")->isEnabled());
        QCOMPARE(Frame().action("openVideoFile")->text(), QStringLiteral("Video &File..."));
        QCOMPARE(Frame().action("openVideoFile")->statusTip(), QStringLiteral("Open a video file"));
        QCOMPARE(Frame().action("openVideoFile")->toolTip(), QStringLiteral("Open Video File"));
        // Without a capture device the stream is the test pattern, in a window of its own.
        QDir().mkpath(dir_ + QStringLiteral("/no-devices"));
        Frame().SetCaptureDeviceFolder(dir_ + QStringLiteral("/no-devices"));
        Frame().action("openVideoStream")->trigger();
        QVERIFY(Frame().captureWindow());
        QVERIFY(!Frame().action("openVideoStream")->isEnabled());
        QVERIFY(prompts_->warnings.isEmpty());
        Frame().action("homePage")->trigger();
        QCOMPARE(prompts_->urls.size(), 1);
        // The toolbar in its order.
        QStringList names;
        for (QAction* a : Frame().findChild<QToolBar*>(QStringLiteral("toolBar"))->actions()) {
            names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
        }
        QCOMPARE(names.join(QLatin1Char(' ')),
                 QStringLiteral("openVideoFile | openVideoStream startCapture videoSource videoFormat | "
                                "startEncoding stopEncoding settings compare log | helpTopics about"));
    }

    void openFailuresShowTheirMessages() {
        auto write = [&](const QString& name, qint64 size) {
            const QString path = dir_ + QLatin1Char('/') + name;
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.resize(size);
            return path;
        };
        const QString empty = write(QStringLiteral("empty.qcif"), 0);
        const QString odd = write(QStringLiteral("odd.qcif"), 38016 * 10 + 1);
        const QString other = write(QStringLiteral("x.yuv"), 100);
        const QString cst = write(QStringLiteral("c.cst"), 24 * 4);
        const QString bad263 = write(QStringLiteral("bad.263"), 100);
        const QString missing = dir_ + QStringLiteral("/missing.qcif");
        QVERIFY(!Frame().OpenFile(empty));
        QVERIFY(!Frame().OpenFile(odd));
        QVERIFY(!Frame().OpenFile(other));
        QVERIFY(!Frame().OpenFile(missing));
        QVERIFY(!Frame().OpenFile(cst));  // no size given
        prompts_->sizeAnswers = {{2049, 4}};
        QVERIFY(!Frame().OpenFile(cst));
        QVERIFY(!Frame().OpenFile(bad263));
        QCOMPARE(
            prompts_->warnings,
            QStringList(
                {QStringLiteral("Invalid Input File ") + empty,
                 QStringLiteral("Error Opening ") + odd + QStringLiteral(": unknown file type"),
                 QStringLiteral("Error Opening ") + other + QStringLiteral(": unknown file type"),
                 QStringLiteral("Error Opening ") + missing,
                 QStringLiteral("Error Opening ") + cst +
                     QStringLiteral(": picture width/height not specified"),
                 QStringLiteral("Error Opening ") + cst + QStringLiteral(": invalid picture width/height"),
                 QStringLiteral("Error Opening ") + bad263 + QStringLiteral(": unknown file type.")}));
        QVERIFY(Frame().VideoWindows().isEmpty());
        // 4 x 4 pictures are accepted; the dialog is titled with the file name.
        prompts_->sizeAnswers = {{4, 4}};
        VideoWindow* w = Frame().OpenFile(cst);
        QVERIFY(w);
        QCOMPARE(prompts_->titles.last(), QStringLiteral("c.cst"));
        QCOMPARE(w->file().frameCount(), 4);
    }

    void rawWindowZoomsAndShowsItsPanes() {
        VideoWindow* w = Frame().OpenFile(qcif_);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("seq.qcif"));
        QCOMPARE(w->slider()->maximum(), 9);
        QTRY_COMPARE(w->view()->size(), QSize(176, 144));
        QCOMPARE(w->sizePane(), QStringLiteral("176x144"));
        QCOMPARE(w->ratePane(), QStringLiteral("30.0 fps"));
        QCOMPARE(w->bitratePane(), QStringLiteral("8.7 Mbps"));  // 12 x 25344 x 30 / 1024 Kbps
        QVERIFY(Frame().action("zoom1")->isChecked());
        Frame().action("zoom3")->trigger();
        QTRY_COMPARE(w->view()->size(), QSize(528, 432));
        QCOMPARE(w->sizePane(), QStringLiteral("528x432"));
        QVERIFY(Frame().action("zoom3")->isChecked());
        QVERIFY(!Frame().action("zoom1")->isChecked());
        // The picture is drawn: the view's image is not black.
        QVERIFY(w->view()->RenderFrame());
        QVERIFY(w->view()->image().pixel(88, 72) != qRgb(0, 0, 0));
        QVERIFY(Frame().action("startEncoding")->isEnabled());
        QVERIFY(Frame().action("compare")->isEnabled());
        // The rate pane shows the frame number once the window is past frame 0.
        w->slider()->setValue(4);
        QCOMPARE(w->currentFrame(), 4);
        QCOMPARE(w->ratePane(), QStringLiteral("4"));
    }

    void playbackPeriodsRestartAndContextMenu() {
        VideoWindow* w = Frame().OpenFile(qcif_);
        QVERIFY(w);
        Frame().action("frameRate3")->trigger();  // 12.5 fps
        QCOMPARE(w->frameRateIndex(), 3);
        QCOMPARE(w->file().frameRate(), 12.5);
        QVERIFY(w->canOfferContextMenu());
        w->SeekFrame(9);
        QTest::mouseClick(w->view(), Qt::LeftButton);
        QVERIFY(w->playing());
        QCOMPARE(w->timerPeriod(), 83);
        QCOMPARE(w->currentFrame(), 0);  // restarted from the last frame
        QVERIFY(!w->canOfferContextMenu());
        QVERIFY(!Frame().action("startEncoding")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!w->playing(), 10000);
        QCOMPARE(w->currentFrame(), 9);
        QCOMPARE(w->slider()->value(), 9);
        QVERIFY(w->canOfferContextMenu());
        for (int i = 0; i < 6; ++i) {
            Frame().action(QStringLiteral("frameRate%1").arg(i))->trigger();
            w->playButton()->click();
            const int periods[6] = {33, 40, 66, 83, 100, 125};
            QCOMPARE(w->timerPeriod(), periods[i]);
            w->playButton()->click();
            QVERIFY(!w->playing());
        }
        // The frame rate goes back to the settings when the window goes.
        Frame().action("frameRate4")->trigger();
        QVERIFY(Frame().CloseVideoWindow(w));
        QCOMPARE(tessaro::ReadString(store_->ReadAll(), "General/FrameRate"), std::string("4"));
    }

    void logBarDropsLinesWhileHiddenAndSavesCrLf() {
        Frame().SetLogBarShown(false);
        Frame().AppendLog(QStringLiteral("lost"));
        QCOMPARE(Frame().logList()->count(), 0);
        Frame().action("log")->trigger();
        QVERIFY(Frame().LogBarShown());
        for (const char* line : {"-> one", "-> two", ""}) Frame().AppendLog(QString::fromLatin1(line));
        const QString path = dir_ + QStringLiteral("/log.txt");
        prompts_->saveAnswers = {path};
        QVERIFY(Frame().SaveLog());
        QCOMPARE(shelltest::ReadAll(path), QByteArray("-> one\r\n-> two\r\n\r\n"));
        prompts_->saveAnswers = {dir_};  // a folder cannot be written as a file
        QVERIFY(!Frame().SaveLog());
        QCOMPARE(prompts_->warnings.last(), QStringLiteral("Error Saving Log Info."));
    }

    void startEncodingWritesTheBytesOfTheCommandLine() {
        VideoWindow* w = Frame().OpenFile(qcif_);
        QVERIFY(w);
        const QString out = dir_ + QStringLiteral("/window.263");
        prompts_->saveAnswers = {out};
        QSignalSpy done(&Frame(), &MainFrame::encodingFinished);
        Frame().action("startEncoding")->trigger();
        QCOMPARE(prompts_->titles.last(), QStringLiteral("Save As H263 Bitstream Video File"));
        QVERIFY(w->document()->encodeBusy);
        QVERIFY(!Frame().action("startEncoding")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        QCOMPARE(done.first().first().toBool(), true);
        QVERIFY(!w->document()->encodeBusy);
        QVERIFY(Frame().progressBar()->isHidden());
        const QStringList log = LogLines(Frame());
        QVERIFY(log.first().startsWith(QStringLiteral("-> Encoding started: input file ") + qcif_));
        QVERIFY(log.contains(QStringLiteral("-> Encoding completed (10 frames encoded)")));
        QCOMPARE(log.last(), QString());
        const QString cli = dir_ + QStringLiteral("/cli.263");
        QCOMPARE(RunCli({QStringLiteral("encode"), qcif_, QStringLiteral("-o"), cli}), 0);
        const QByteArray a = shelltest::ReadAll(out), b = shelltest::ReadAll(cli);
        QVERIFY(!a.isEmpty());
        QVERIFY(a == b);
    }

    void openingABitstreamDecodesAndReopensAsRaw() {
        const QString stream = dir_ + QStringLiteral("/clip.263");
        QCOMPARE(RunCli({QStringLiteral("encode"), qcif_, QStringLiteral("-o"), stream}), 0);
        QSignalSpy done(&Frame(), &MainFrame::decodingFinished);
        VideoWindow* w = Frame().OpenFile(stream);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("clip.263"));
        // Black, with empty bitrate and rate panes, while the stream is decoded.
        QVERIFY(w->document()->decodeBusy);
        QVERIFY(!w->view()->RenderFrame());
        QVERIFY(w->bitratePane().isEmpty());
        QVERIFY(w->ratePane().isEmpty());
        QCOMPARE(w->sizePane(), QStringLiteral("176x144"));
        QVERIFY(!Frame().action("startEncoding")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        QCOMPARE(done.first().first().toBool(), true);
        QVERIFY(w->file().isRaw());
        QVERIFY(w->file().isBitstream());
        QCOMPARE(w->file().frameCount(), 10);
        QCOMPARE(w->windowTitle(), QStringLiteral("clip_.qcif"));
        QVERIFY(w->bitratePane().endsWith(QStringLiteral("Kbps")));
        QVERIFY(LogLines(Frame()).contains(QStringLiteral("-> Decoding completed: output file ") +
                                           QString::fromStdString(w->document()->decodedPath) +
                                           QStringLiteral(" (10 frames)")));
        QVERIFY(Frame().action("startEncoding")->isEnabled());
        // Deleted with its window (the setting is on by default, and this process made it).
        const QString decoded = QString::fromStdString(w->document()->decodedPath);
        QVERIFY(QFile::exists(decoded));
        QVERIFY(Frame().CloseVideoWindow(w));
        QTRY_VERIFY(!QFile::exists(decoded));
    }

    void compareLogsTheCoreLines() {
        const QString copy = dir_ + QStringLiteral("/copy.qcif");
        QVERIFY(shelltest::WriteSequence(copy, 176, 144, 7));
        VideoWindow* w = Frame().OpenFile(qcif_);
        QVERIFY(w);
        Frame().SetLogBarShown(false);
        prompts_->openAnswers = {copy};
        QSignalSpy done(&Frame(), &MainFrame::comparisonFinished);
        Frame().action("compare")->trigger();
        QCOMPARE(prompts_->titles.last(), QStringLiteral("Compare File 'seq.qcif' With File"));
        QVERIFY(Frame().LogBarShown());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        const QStringList log = LogLines(Frame());
        QCOMPARE(log.first(),
                 QStringLiteral("-> Comparing video files: ") + qcif_ + QStringLiteral(" and ") + copy);
        QVERIFY(log.at(1).startsWith(QStringLiteral("-> Frame 0: ")));
        QVERIFY(log.contains(QStringLiteral("-> Total frames compared: 7")));
        QCOMPARE(Frame().VideoWindows().size(), 2);
        // Different sizes are refused and the second window stays.
        const QString small = dir_ + QStringLiteral("/small.sqcif");
        QVERIFY(shelltest::WriteSequence(small, 128, 96, 2));
        Frame().OpenFile(qcif_);  // back to the first window
        prompts_->openAnswers = {small};
        Frame().Compare();
        QCOMPARE(prompts_->warnings.last(),
                 QStringLiteral("Can't compare video files of\ndifferent formats/frame sizes"));
        QCOMPARE(Frame().VideoWindows().size(), 3);
    }

    // A Y4M file opens like the raw file of its pictures and compares equal to it.
    void y4mFileOpensAndComparesLikeItsRawFile() {
        QFile raw(qcif_);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray pictures = raw.readAll();
        const QString y4m = dir_ + QStringLiteral("/seq.y4m");
        {
            QFile f(y4m);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("YUV4MPEG2 W176 H144 F30:1 Ip A1:1 C420jpeg\n");
            for (int i = 0; i < 10; ++i) {
                f.write("FRAME\n");
                f.write(pictures.mid(i * 38016, 38016));
            }
        }
        VideoWindow* w = Frame().OpenFile(y4m);
        QVERIFY(w);
        QCOMPARE(w->file().frameCount(), 10);
        QCOMPARE(w->file().width(), 176);
        prompts_->openAnswers = {qcif_};
        QSignalSpy done(&Frame(), &MainFrame::comparisonFinished);
        Frame().action("compare")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        const QStringList log = LogLines(Frame());
        QVERIFY(log.contains(QStringLiteral("-> Total frames compared: 10")));
        QVERIFY(log.contains(
            QStringLiteral("-> Average SNR: SNR_Y = 1000.0000, SNR_U = 1000.0000, SNR_V = 1000.0000")));
    }

    void settingsSheetChecksItsPages() {
        const QString big = dir_ + QStringLiteral("/long.sqcif");
        {
            QFile f(big);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64{18432} * 1200));
        }
        VideoWindow* w = Frame().OpenFile(big);
        QVERIFY(w);
        Frame().action("settings")->trigger();
        SettingsSheet* sheet = Frame().openSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->windowTitle(), QStringLiteral("V263+ ODI Settings"));
        auto* button = qobject_cast<QToolButton*>(Frame()
                                                      .findChild<QToolBar*>(QStringLiteral("toolBar"))
                                                      ->widgetForAction(Frame().action("settings")));
        QVERIFY(button && button->isDown());
        sheet->tabs()->setCurrentIndex(1);
        QCOMPARE(sheet->findChild<QLineEdit*>(QStringLiteral("endFrame"))->text(), QStringLiteral("999"));
        QCOMPARE(sheet->findChild<QLineEdit*>(QStringLiteral("inputFormat"))->text(),
                 QStringLiteral("SUBQCIF"));
        sheet->findChild<QLineEdit*>(QStringLiteral("endFrame"))->setText(QStringLiteral("1199"));
        sheet->accept();
        QCOMPARE(prompts_->warnings.last(), QStringLiteral("Please enter a number beween 0 and 999"));
        QVERIFY(sheet->isVisible());
        sheet->tabs()->setCurrentIndex(2);  // the page cannot be left either
        QCOMPARE(sheet->tabs()->currentIndex(), 1);
        sheet->findChild<QLineEdit*>(QStringLiteral("endFrame"))->setText(QStringLiteral("500"));
        sheet->findChild<QLineEdit*>(QStringLiteral("bitrate"))->setText(QStringLiteral("9000"));
        sheet->tabs()->setCurrentIndex(2);
        QCOMPARE(prompts_->warnings.last(),
                 QStringLiteral("Please enter a number beween 14400 and 10000000"));
        QCOMPARE(sheet->tabs()->currentIndex(), 1);
        sheet->findChild<QLineEdit*>(QStringLiteral("bitrate"))->setText(QStringLiteral("128000"));
        // The rate lists are refilled with the target, keeping the selected index.
        auto* target = sheet->findChild<QComboBox*>(QStringLiteral("targetFrameRate"));
        auto* actual = sheet->findChild<QComboBox*>(QStringLiteral("actualFrameRate"));
        QCOMPARE(target->currentText(), QStringLiteral("30.0"));
        QCOMPARE(actual->itemText(2), QStringLiteral("10.0"));
        actual->setCurrentIndex(2);
        target->setCurrentIndex(0);
        QCOMPARE(actual->count(), 3);
        QCOMPARE(actual->itemText(0), QStringLiteral("25.0"));
        QCOMPARE(actual->itemText(1), QStringLiteral("12.5"));
        QCOMPARE(actual->itemText(2), QStringLiteral("8.3"));
        QCOMPARE(actual->currentIndex(), 2);
        sheet->tabs()->setCurrentIndex(2);
        QCOMPARE(sheet->tabs()->currentIndex(), 2);
        // Enabling follows the check boxes.
        auto* bFrames = sheet->findChild<QLineEdit*>(QStringLiteral("bFrames"));
        QVERIFY(!bFrames->isEnabled());
        sheet->findChild<QCheckBox*>(QStringLiteral("useBFrames"))->setChecked(true);
        QVERIFY(bFrames->isEnabled());
        sheet->findChild<QLineEdit*>(QStringLiteral("mblocksPerSlice"))->setText(QStringLiteral("49"));
        sheet->accept();
        QCOMPARE(prompts_->warnings.last(), QStringLiteral("Please enter a number beween 1 and 48"));
        sheet->findChild<QLineEdit*>(QStringLiteral("mblocksPerSlice"))->setText(QStringLiteral("48"));
        QSignalSpy closed(sheet, &QDialog::finished);
        sheet->accept();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!button->isDown());
        const tessaro::SettingsMap stored = store_->ReadAll();
        QCOMPARE(tessaro::ReadString(stored, "Coder/Bitrate"), std::string("128000"));
        QCOMPARE(tessaro::ReadString(stored, "Coder/FrameRateTarget"), std::string("25"));
        QCOMPARE(tessaro::ReadString(stored, "Coder/FrameRateActual"), std::string("3"));
        QCOMPARE(tessaro::ReadString(stored, "Advanced/UseTrueBPictures"), std::string("1"));
        QCOMPARE(Frame().settings().coder.EndFrame, 500);
        QCOMPARE(Frame().settings().coder.MBlocksPerSlice, 48);
    }

    void settingsOkWritesOnlyChangesAndCancelNothing() {
        const QString qcif = qcif_;
        VideoWindow* w = Frame().OpenFile(qcif);
        QVERIFY(w);
        Frame().ShowSettings();
        Frame().openSheet()->accept();  // stores every value once
        const tessaro::SettingsMap first = store_->ReadAll();
        Frame().ShowSettings();
        SettingsSheet* sheet = Frame().openSheet();
        sheet->tabs()->setCurrentIndex(1);
        sheet->findChild<QLineEdit*>(QStringLiteral("pQuantizer"))->setText(QStringLiteral("20"));
        sheet->tabs()->setCurrentIndex(2);
        sheet->findChild<QLineEdit*>(QStringLiteral("mblocksPerSlice"))->setText(QStringLiteral("100"));
        sheet->accept();
        QCOMPARE(prompts_->warnings.last(), QStringLiteral("Please enter a number beween 1 and 99"));
        sheet->findChild<QLineEdit*>(QStringLiteral("mblocksPerSlice"))->setText(QStringLiteral("99"));
        sheet->tabs()->setCurrentIndex(1);
        auto* threads = sheet->findChild<QSpinBox*>(QStringLiteral("threads"));
        QVERIFY(threads);
        QCOMPARE(threads->value(), 0);
        QCOMPARE(threads->text(), QStringLiteral("One per core"));
        QVERIFY(!threads->toolTip().isEmpty());
        threads->stepUp();
        threads->stepUp();
        sheet->accept();
        tessaro::SettingsMap expected = first;
        expected["Coder/PQuantizer"] = "20";
        expected["Coder/Threads"] = "2";
        QCOMPARE(Frame().settings().coder.Threads, 2);
        QCOMPARE(store_->ReadAll(), expected);
        // Cancel keeps everything as it was.
        Frame().ShowSettings();
        sheet = Frame().openSheet();
        sheet->findChild<QCheckBox*>(QStringLiteral("showSnr"))->setChecked(true);
        sheet->tabs()->setCurrentIndex(1);
        sheet->findChild<QLineEdit*>(QStringLiteral("iQuantizer"))->setText(QStringLiteral("9"));
        sheet->reject();
        QCOMPARE(store_->ReadAll(), expected);
        QCOMPARE(Frame().settings().coder.IQuantizer, 5);
        QCOMPARE(Frame().settings().general.ShowSNR, 0);
    }

    void tinyCustomFileDoesNotTrapTheSheet() {
        const QString path = dir_ + QStringLiteral("/tiny.cst");
        QVERIFY(shelltest::WriteSequence(path, 64, 48, 3));
        prompts_->sizeAnswers = {{64, 48}};
        QVERIFY(Frame().OpenFile(path));
        Frame().ShowSettings();
        SettingsSheet* sheet = Frame().openSheet();
        sheet->tabs()->setCurrentIndex(1);
        QCOMPARE(sheet->findChild<QLineEdit*>(QStringLiteral("width"))->text(), QStringLiteral("64"));
        sheet->tabs()->setCurrentIndex(0);
        QCOMPARE(sheet->tabs()->currentIndex(), 0);
        const int warnings = static_cast<int>(prompts_->warnings.size());
        QSignalSpy closed(sheet, &QDialog::finished);
        sheet->accept();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(static_cast<int>(prompts_->warnings.size()), warnings);
    }

    void closingOrQuittingWhileBusyStopsTheJob() {
        const QString longer = dir_ + QStringLiteral("/longer.qcif");
        QVERIFY(shelltest::WriteSequence(longer, 176, 144, 60));
        VideoWindow* w = Frame().OpenFile(longer);
        QVERIFY(w);
        prompts_->saveAnswers = {dir_ + QStringLiteral("/closed.263")};
        QSignalSpy done(&Frame(), &MainFrame::encodingFinished);
        Frame().StartEncoding();
        QVERIFY(Frame().EncodeRunning());
        QVERIFY(Frame().action("stopEncoding")->isEnabled());
        QVERIFY(Frame().CloseVideoWindow(w));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kJobTimeout);
        QVERIFY(!Frame().JobsRunning());
        QVERIFY(LogLines(Frame()).filter(QStringLiteral("-> Encoding terminated")).size() == 1);

        // Stop Encoding ends a run as terminated too.
        w = Frame().OpenFile(longer);
        prompts_->saveAnswers = {dir_ + QStringLiteral("/stopped.263")};
        Frame().StartEncoding();
        Frame().action("stopEncoding")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, kJobTimeout);
        QCOMPARE(done.last().first().toBool(), false);

        // A decoding window closed at once, and quitting in the middle of an encode and a decode.
        const QString stream = dir_ + QStringLiteral("/s.263");
        QCOMPARE(RunCli({QStringLiteral("encode"), longer, QStringLiteral("-o"), stream}), 0);
        QSignalSpy decoded(&Frame(), &MainFrame::decodingFinished);
        VideoWindow* d = Frame().OpenFile(stream);
        QVERIFY(d);
        QVERIFY(Frame().CloseVideoWindow(d));
        QTRY_COMPARE_WITH_TIMEOUT(decoded.count(), 1, kJobTimeout);
        w = Frame().OpenFile(longer);
        prompts_->saveAnswers = {dir_ + QStringLiteral("/quit.263")};
        Frame().StartEncoding();
        QVERIFY(Frame().OpenFile(stream));
        QVERIFY(Frame().JobsRunning());
        QVERIFY(Frame().close());
        QVERIFY(!Frame().JobsRunning());
        frame_.reset();
    }

    void dropOpensFilesAndLayoutIsRestored() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(qcif_)});
        QVERIFY(Frame().acceptDrops());
        QCOMPARE(Frame().OpenDropped(data), 1);
        QCOMPARE(Frame().VideoWindows().size(), 1);
        // The dock's place and the window's size come back on the next start.
        auto* dock = Frame().findChild<QDockWidget*>(QStringLiteral("logBar"));
        Frame().addDockWidget(Qt::TopDockWidgetArea, dock);
        Frame().resize(700, 500);
        QVERIFY(Frame().close());
        NewFrame();
        QCOMPARE(Frame().size(), QSize(700, 500));
        QCOMPARE(Frame().dockWidgetArea(Frame().findChild<QDockWidget*>(QStringLiteral("logBar"))),
                 Qt::TopDockWidgetArea);
    }

    void recentFilesPersist() {
        QVERIFY(Frame().OpenFile(qcif_));
        QCOMPARE(Frame().RecentFiles().value(0), QFileInfo(qcif_).absoluteFilePath());
        NewFrame();
        QCOMPARE(Frame().RecentFiles().value(0), QFileInfo(qcif_).absoluteFilePath());
        QAction* recent = Frame().findChild<QAction*>(QStringLiteral("recent1"));
        QVERIFY(recent);
        recent->trigger();
        QCOMPARE(Frame().VideoWindows().size(), 1);
        // The start-up file opens, and the command-line file ends as the active window.
        tessaro::CodecSettings s = Frame().settings();
        const tessaro::CodecSettings before = s;
        const QString other = dir_ + QStringLiteral("/other.qcif");
        QVERIFY(shelltest::WriteSequence(other, 176, 144, 2));
        s.general.StartupFile = other.toStdString();
        QVERIFY(tessaro::SaveSettings(*store_, before, s));
        NewFrame();
        Frame().OpenAtStartup(qcif_);
        QCOMPARE(Frame().VideoWindows().size(), 2);
        QCOMPARE(Frame().ActiveVideoWindow()->windowTitle(), QStringLiteral("seq.qcif"));
    }
};

QTEST_MAIN(ShellWindowTest)
#include "ShellWindowTest.moc"
