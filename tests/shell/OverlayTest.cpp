// The macroblock analysis on a decoded window, driven as a user would: the overlay toggled from
// the View menu and the window's context menu, its legend with the current picture's type and
// size, macroblock tooltips, and the stream's properties following the window's frame rate. Under
// Xvfb (the "screenshots" case) the overlay and the properties are saved as test artifacts.
#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "MacroblockOverlay.h"
#include "MainFrame.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "StreamProperties.h"
#include "VideoWindow.h"

using namespace tessaro::shell;
using r263iri::MacroblockKind;

namespace {
constexpr int kJobTimeout = 120000;

QMenu* ViewMenu(MainFrame& frame) {
    return frame.menuBar()->findChild<QMenu*>(QStringLiteral("viewMenu"));
}
}  // namespace

class OverlayTest : public QObject {
    Q_OBJECT
  private:
    QString dir_;
    std::unique_ptr<tessaro::FileSettingsStore> store_;
    std::unique_ptr<shelltest::ScriptedPrompts> prompts_;
    std::unique_ptr<MainFrame> frame_;

    // A QCIF bitstream coded by tessaro-cli from `frames` frames (the foreman sequence when the
    // shared data is there, else a synthetic one), with extra --set options.
    QString EncodeStream(const QString& name, int frames, const QStringList& sets = {}) {
        const QString raw = dir_ + QStringLiteral("/") + name + QStringLiteral(".qcif");
        QFile foreman(QStringLiteral(TESSARO_SHARED_DATA "/foreman.qcif"));
        if (foreman.open(QIODevice::ReadOnly)) {
            QFile out(raw);
            if (!out.open(QIODevice::WriteOnly) || out.write(foreman.read(qint64{38016} * frames)) <= 0)
                return {};
        } else if (!shelltest::WriteSequence(raw, 176, 144, frames)) {
            return {};
        }
        const QString stream = dir_ + QStringLiteral("/") + name + QStringLiteral(".263");
        QStringList args{QStringLiteral("encode"), raw, QStringLiteral("-o"), stream};
        for (const QString& s : sets) args << QStringLiteral("--set") << s;
        QProcess p;
        p.start(QStringLiteral(TESSARO_BIN_DIR "/tessaro-cli"), args);
        if (!p.waitForFinished(kJobTimeout) || p.exitCode() != 0) return {};
        return stream;
    }

    VideoWindow* OpenDecoded(const QString& stream) {
        QSignalSpy done(frame_.get(), &MainFrame::decodingFinished);
        VideoWindow* w = frame_->OpenFile(stream);
        if (!w) return nullptr;
        if (!done.wait(kJobTimeout) && done.isEmpty()) return nullptr;
        return done.first().first().toBool() ? w : nullptr;
    }

  private slots:
    void init() {
        dir_ = shelltest::MakeScratch(QStringLiteral("overlay"));
        qputenv("XDG_CONFIG_HOME", (dir_ + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (dir_ + QStringLiteral("/cache")).toUtf8());
        store_ = std::make_unique<tessaro::FileSettingsStore>(tessaro::DefaultSettingsPath());
        prompts_ = std::make_unique<shelltest::ScriptedPrompts>();
        frame_ = std::make_unique<MainFrame>(*store_, *prompts_);
        frame_->resize(900, 700);
        frame_->show();
    }
    void cleanup() {
        frame_.reset();
        prompts_.reset();
        store_.reset();
    }

    void pointsMapToMacroblocks() {
        // QCIF at 200 %: 352 x 288 view pixels over 11 x 9 macroblocks.
        QCOMPARE(MacroblockAtPoint({0, 0}, {352, 288}, 176, 144, 11, 9), QPoint(0, 0));
        QCOMPARE(MacroblockAtPoint({31, 31}, {352, 288}, 176, 144, 11, 9), QPoint(0, 0));
        QCOMPARE(MacroblockAtPoint({32, 33}, {352, 288}, 176, 144, 11, 9), QPoint(1, 1));
        QCOMPARE(MacroblockAtPoint({351, 287}, {352, 288}, 176, 144, 11, 9), QPoint(10, 8));
        QCOMPARE(MacroblockAtPoint({352, 10}, {352, 288}, 176, 144, 11, 9), QPoint(-1, -1));
        QCOMPARE(MacroblockAtPoint({-1, 10}, {352, 288}, 176, 144, 11, 9), QPoint(-1, -1));
        // A custom 180 x 100 picture: the last column and row are partly outside the display.
        QCOMPARE(MacroblockAtPoint({179, 99}, {180, 100}, 180, 100, 12, 7), QPoint(11, 6));
        // A stretched view (not a whole zoom) still maps by proportion.
        QCOMPARE(MacroblockAtPoint({300, 0}, {400, 144}, 176, 144, 11, 9), QPoint(8, 0));
        QCOMPARE(MacroblockAtPoint({5, 5}, {0, 0}, 176, 144, 11, 9), QPoint(-1, -1));
    }

    void coloursAreTranslucentAndDistinct() {
        const MacroblockKind kinds[] = {
            MacroblockKind::kNotDecoded, MacroblockKind::kNotCoded, MacroblockKind::kInter,
            MacroblockKind::kInter4V,    MacroblockKind::kIntra,    MacroblockKind::kDirect,
            MacroblockKind::kForward,    MacroblockKind::kBackward, MacroblockKind::kBidirectional};
        QSet<QRgb> seen;
        for (MacroblockKind k : kinds) {
            const QColor c = OverlayColour(k);
            QVERIFY2(c.alpha() > 0 && c.alpha() < 128, tessaro::MacroblockKindName(k));
            seen.insert(c.rgb());
        }
        QCOMPARE(seen.size(), int(std::size(kinds)));
        QVERIFY(ForwardArrowColour() != BackwardArrowColour());
    }

    void overlayToggledFromTheMenusWithLegendAndTooltips() {
        const QString stream = EncodeStream(QStringLiteral("clip"), 6);
        QVERIFY(!stream.isEmpty());
        // A raw window offers neither command.
        QVERIFY(shelltest::WriteSequence(dir_ + QStringLiteral("/raw.qcif"), 176, 144, 3));
        VideoWindow* raw = frame_->OpenFile(dir_ + QStringLiteral("/raw.qcif"));
        QVERIFY(raw);
        QVERIFY(!frame_->action("macroblockOverlay")->isEnabled());
        QVERIFY(!frame_->action("streamProperties")->isEnabled());
        raw->SetOverlayShown(true);
        QVERIFY(!raw->overlayShown());

        VideoWindow* w = OpenDecoded(stream);
        QVERIFY(w);
        QAction* toggle = frame_->action("macroblockOverlay");
        QVERIFY(toggle->isEnabled());
        QVERIFY(toggle->isCheckable());
        QVERIFY(!toggle->isChecked());
        QVERIFY(toggle->text().contains(QLatin1Char('&')));
        QVERIFY(!toggle->statusTip().isEmpty());
        QVERIFY(ViewMenu(*frame_)->actions().contains(toggle));
        QVERIFY(frame_->contextMenu()->actions().contains(toggle));
        QVERIFY(ViewMenu(*frame_)->actions().contains(frame_->action("streamProperties")));
        QVERIFY(frame_->contextMenu()->actions().contains(frame_->action("streamProperties")));

        // Without the overlay: no legend, no macroblock tooltip.
        QVERIFY(!w->legend()->isVisible());
        QVERIFY(w->view()->MacroblockToolTip({5, 5}).isEmpty());

        const QSize pictureSize = w->view()->size();
        toggle->trigger();
        QVERIFY(w->overlayShown());
        QVERIFY(toggle->isChecked());
        QTRY_VERIFY(w->legend()->isVisible());
        QTRY_COMPARE(w->view()->size(), pictureSize);  // the window grew by the legend
        const tessaro::StreamAnalysis& analysis = *w->document()->analysis;
        QCOMPARE(int(analysis.pictures.size()), 6);
        QCOMPARE(w->legend()->pictureText(),
                 QStringLiteral("Frame 0: I-picture, %1 bytes").arg(analysis.pictures[0].bytes));
        w->SeekFrame(3);
        QCOMPARE(w->legend()->pictureText(),
                 QStringLiteral("Frame 3: P-picture, %1 bytes").arg(analysis.pictures[3].bytes));

        // The tooltip of the macroblock under the mouse (column 2, row 1 at 100 %).
        const QPoint at(2 * 16 + 5, 16 + 5);
        const QString expected =
            QString::fromStdString(tessaro::DescribeMacroblock(analysis.pictures[3], 2, 1));
        QVERIFY(expected.startsWith(QStringLiteral("Macroblock 13 (column 2, row 1)\nType: ")));
        QVERIFY(expected.contains(QStringLiteral("QUANT: ")));
        QVERIFY(expected.contains(QStringLiteral("CBP: ")));
        QCOMPARE(w->view()->MacroblockToolTip(at), expected);
        QHelpEvent help(QEvent::ToolTip, at, w->view()->mapToGlobal(at));
        QCoreApplication::sendEvent(w->view(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), expected);

        // The overlay follows the active window in the menu's check mark, and goes off again.
        frame_->action("zoom2")->trigger();
        QTRY_COMPARE(w->view()->MacroblockToolTip(at * 2), expected);
        toggle->trigger();
        QVERIFY(!w->overlayShown());
        QVERIFY(!toggle->isChecked());
        QTRY_VERIFY(!w->legend()->isVisible());
        QVERIFY(w->view()->MacroblockToolTip(at).isEmpty());
    }

    void propertiesFollowTheFrameRate() {
        const QString stream = EncodeStream(QStringLiteral("props"), 5);
        QVERIFY(!stream.isEmpty());
        VideoWindow* w = OpenDecoded(stream);
        QVERIFY(w);
        QAction* properties = frame_->action("streamProperties");
        QVERIFY(properties->isEnabled());
        QVERIFY(properties->text().contains(QLatin1Char('&')));
        QVERIFY(!properties->statusTip().isEmpty());
        properties->trigger();
        StreamPropertiesDialog* dialog = w->propertiesDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Properties - props.263"));
        QCOMPARE(dialog->Value(QStringLiteral("Picture format")), QStringLiteral("QCIF, 176x144"));
        QCOMPARE(dialog->Value(QStringLiteral("Annexes")), QStringLiteral("none"));
        QCOMPARE(dialog->Value(QStringLiteral("Pictures")), QStringLiteral("5 (I 1, P 4)"));
        QCOMPARE(dialog->Value(QStringLiteral("Profile")), QStringLiteral("0 (Baseline)"));
        QVERIFY(!dialog->Value(QStringLiteral("Level")).isEmpty());
        const double bytes = QFileInfo(stream).size();
        const double rate = w->file().frameRate();
        QCOMPARE(dialog->Value(QStringLiteral("Bitrate")), QStringLiteral("%1 Kbps at %2 fps")
                                                               .arg(bytes * 8 * rate / 5 / 1000, 0, 'f', 1)
                                                               .arg(rate, 0, 'f', 1));
        // A new frame rate for the window recomputes the bitrate.
        frame_->action("frameRate4")->trigger();
        QTRY_VERIFY(dialog->Value(QStringLiteral("Bitrate")).endsWith(QStringLiteral("at 10.0 fps")));
        // The command raises the open dialog rather than opening a second one.
        properties->trigger();
        QCOMPARE(w->findChildren<StreamPropertiesDialog*>().size(), 1);
        dialog->close();
        QTRY_VERIFY(!w->propertiesDialog());
    }

    void screenshots() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("needs an X server (xvfb-run)");
        // B-pictures, so that the overlay shows I, P and B macroblocks over the frames.
        const QString stream = EncodeStream(
            QStringLiteral("foreman_b"), 12,
            {QStringLiteral("Advanced/UseTrueBPictures=1"), QStringLiteral("Advanced/BPictures=2")});
        QVERIFY(!stream.isEmpty());
        VideoWindow* w = OpenDecoded(stream);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
        frame_->resize(1000, 980);
        frame_->action("zoom2")->trigger();
        frame_->action("macroblockOverlay")->trigger();
        QVERIFY(w->overlayShown());
        QDir().mkpath(QStringLiteral(TESSARO_ARTIFACTS));
        w->SeekFrame(3);  // a P-picture
        QTRY_VERIFY(w->legend()->pictureText().contains(QStringLiteral("P-picture")));
        // The video window with its frame, legend, playback bar and status bar.
        QVERIFY(w->parentWidget()->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-overlay-p.png")));
        w->SeekFrame(4);  // a B-picture
        QTRY_VERIFY(w->legend()->pictureText().contains(QStringLiteral("B-picture")));
        QCOMPARE(w->legend()->columns(), 3);
        QVERIFY(frame_->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-overlay-b.png")));
        frame_->action("streamProperties")->trigger();
        StreamPropertiesDialog* dialog = w->propertiesDialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY(dialog->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-properties.png")));
        dialog->close();

        // ffmpeg's four-vector macroblocks, when ffmpeg is there.
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (ffmpeg.isEmpty()) return;
        const QString mv4 = dir_ + QStringLiteral("/ffmpeg_mv4.263");
        QProcess p;
        p.start(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                         QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                         QStringLiteral("yuv420p"), QStringLiteral("-s"), QStringLiteral("176x144"),
                         QStringLiteral("-i"), dir_ + QStringLiteral("/foreman_b.qcif"),
                         QStringLiteral("-c:v"), QStringLiteral("h263"), QStringLiteral("-flags"),
                         QStringLiteral("+mv4"), QStringLiteral("-f"), QStringLiteral("h263"), mv4});
        QVERIFY(p.waitForFinished(kJobTimeout));
        QCOMPARE(p.exitCode(), 0);
        VideoWindow* f = OpenDecoded(mv4);
        QVERIFY(f);
        frame_->action("zoom2")->trigger();
        frame_->action("macroblockOverlay")->trigger();
        QVERIFY(f->overlayShown());
        f->SeekFrame(5);
        QTRY_VERIFY(f->legend()->pictureText().contains(QStringLiteral("P-picture")));
        QVERIFY(f->parentWidget()->grab().save(
            QStringLiteral(TESSARO_ARTIFACTS "/tessaro-overlay-ffmpeg-mv4.png")));
    }
};

QTEST_MAIN(OverlayTest)
#include "OverlayTest.moc"
