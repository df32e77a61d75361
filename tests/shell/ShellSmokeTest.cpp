// Under a real X server (Xvfb): the workbench with a QCIF file, played, with the settings sheet
// open; screenshots of the main window and of the sheet are left in test-artifacts/.
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "MainFrame.h"
#include "SettingsSheet.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "VideoWindow.h"

class ShellSmokeTest : public QObject {
    Q_OBJECT
  private slots:
    void playsAndShowsTheSheet() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) QSKIP("needs an X server (xvfb-run)");
        const QString dir = shelltest::MakeScratch(QStringLiteral("smoke"));
        qputenv("XDG_CONFIG_HOME", (dir + QStringLiteral("/config")).toUtf8());
        const QString qcif = dir + QStringLiteral("/foreman.qcif");
        QVERIFY(shelltest::WriteSequence(qcif, 176, 144, 30));
        tessaro::FileSettingsStore store(tessaro::DefaultSettingsPath());
        shelltest::ScriptedPrompts prompts;
        tessaro::shell::MainFrame frame(store, prompts);
        frame.resize(900, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        tessaro::shell::VideoWindow* w = frame.OpenFile(qcif);
        QVERIFY(w);
        frame.action("zoom2")->trigger();
        w->TogglePlayback();
        QTRY_VERIFY_WITH_TIMEOUT(w->currentFrame() >= 12, 10000);
        w->TogglePlayback();
        frame.AppendLog(QStringLiteral("-> smoke test: played to frame %1").arg(w->currentFrame()));
        QDir().mkpath(QStringLiteral(TESSARO_ARTIFACTS));
        const QString mainShot = QStringLiteral(TESSARO_ARTIFACTS "/tessaro-main.png");
        QTRY_VERIFY(frame.grab().save(mainShot));
        frame.ShowSettings();
        tessaro::shell::SettingsSheet* sheet = frame.openSheet();
        QVERIFY(sheet);
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        sheet->tabs()->setCurrentIndex(1);
        QVERIFY(sheet->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-settings-coder.png")));
        sheet->tabs()->setCurrentIndex(2);
        QVERIFY(sheet->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-settings-advanced.png")));
        sheet->tabs()->setCurrentIndex(0);
        QVERIFY(sheet->grab().save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-settings-general.png")));
        // The whole screen with the sheet over the main window.
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TESSARO_ARTIFACTS "/tessaro-screen.png")));
        sheet->reject();
        QVERIFY(frame.close());
    }
};

QTEST_MAIN(ShellSmokeTest)
#include "ShellSmokeTest.moc"
