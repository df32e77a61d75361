// The window logic without windows: playback periods and stepping, zoom, pane texts, the checks
// of the settings sheet.
#include <QTest>

#include "ShellLogic.h"

using namespace tessaro::shell;

class ShellLogicTest : public QObject {
    Q_OBJECT
  private slots:
    void playbackPeriods() {
        const int expected[6] = {33, 40, 66, 83, 100, 125};
        for (int i = 0; i < 6; ++i) QCOMPARE(PlaybackPeriodMs(i), expected[i]);
        QCOMPARE(PlaybackPeriodMs(-1), 33);
        QCOMPARE(PlaybackPeriodMs(6), 33);
    }
    void playbackRestartsAndStops() {
        // A 10-frame file started at its last frame begins again at 0.
        QCOMPARE(PlaybackStartFrame(9, 10), 0);
        QCOMPARE(PlaybackStartFrame(4, 10), 4);
        QCOMPARE(PlaybackStartFrame(0, 1), 0);
        PlaybackStep step = PlaybackTick(8, 10);
        QCOMPARE(step.frame, 9);
        QVERIFY(!step.stop);
        step = PlaybackTick(9, 10);
        QCOMPARE(step.frame, 9);
        QVERIFY(step.stop);
        step = PlaybackTick(0, 1);
        QCOMPARE(step.frame, 0);
        QVERIFY(step.stop);
    }
    void zoom() {
        QCOMPARE(ClampZoom(0), 1);
        QCOMPARE(ClampZoom(7), 5);
        QCOMPARE(ZoomOfClientSize(176, 144, 528, 432), 3);
        QCOMPARE(ZoomOfClientSize(176, 144, 529, 432), 0);
        QCOMPARE(ZoomOfClientSize(176, 144, 176 * 6, 144 * 6), 0);
    }
    void paneTexts() {
        QCOMPARE(SizePaneText(528, 432), std::string("528x432"));
        QCOMPARE(BitratePaneText(1023.9), std::string("1023.9 Kbps"));
        QCOMPARE(BitratePaneText(9123.75), std::string("8.9 Mbps"));
        QCOMPARE(RatePaneText(12.5, 0), std::string("12.5 fps"));
        QCOMPARE(RatePaneText(12.5, 7), std::string("7"));
        QCOMPARE(InputFormatName(1), std::string("SUBQCIF"));
        QCOMPARE(InputFormatName(6), std::string("CUSTOM"));
        QCOMPARE(InputFormatName(7), std::string());
    }
    void frameRateLists() {
        QCOMPARE(FrameRateListItems(25.0f), (std::vector<std::string>{"25.0", "12.5", "8.3"}));
        QCOMPARE(FrameRateListItems(30.0f), (std::vector<std::string>{"30.0", "15.0", "10.0"}));
    }
    void fieldNumbers() {
        int v = -5;
        QVERIFY(ParseFieldNumber(" 31 ", 1, 31, &v));
        QCOMPARE(v, 31);
        QVERIFY(!ParseFieldNumber("32", 1, 31, &v));
        QVERIFY(!ParseFieldNumber("0", 1, 31, &v));
        QVERIFY(!ParseFieldNumber("", 1, 31, &v));
        QVERIFY(!ParseFieldNumber("12a", 1, 31, &v));
        QVERIFY(!ParseFieldNumber("99999999999999999999", 0, 100, &v));
        QCOMPARE(RangeMessage(14400, 10000000), std::string("Please enter a number beween 14400 and 10000000"));
    }
    void frameRange() {
        // 1200 frames: End 1199 with Start 0 is a range of 1200 frames, refused with 0 and 999.
        PageCheck c = CheckFrameRange(0, 1199, 1200);
        QVERIFY(!c.ok);
        QCOMPARE(c.field, Field::kEnd);
        QCOMPARE(c.message, std::string("Please enter a number beween 0 and 999"));
        QVERIFY(CheckFrameRange(0, 999, 1200).ok);
        QVERIFY(CheckFrameRange(200, 1199, 1200).ok);
        c = CheckFrameRange(10, 10, 10);
        QVERIFY(!c.ok);
        QCOMPARE(c.field, Field::kStart);
        QCOMPARE(c.message, std::string("Please enter a number beween 0 and 9"));
        c = CheckFrameRange(5, 4, 10);
        QCOMPARE(c.field, Field::kEnd);
        QCOMPARE(c.message, std::string("Please enter a number beween 5 and 9"));
        QVERIFY(CheckFrameRange(5, 5, 10).ok);
    }
    void sliceSize() {
        // QCIF has 99 macroblocks.
        PageCheck c = CheckSliceSize(100, 176, 144);
        QVERIFY(!c.ok);
        QCOMPARE(c.message, std::string("Please enter a number beween 1 and 99"));
        QVERIFY(CheckSliceSize(99, 176, 144).ok);
        QVERIFY(!CheckSliceSize(0, 176, 144).ok);
        // A picture smaller than one macroblock still accepts one macroblock per slice.
        QVERIFY(CheckSliceSize(1, 8, 8).ok);
        QCOMPARE(CheckSliceSize(2, 8, 8).message, std::string("Please enter a number beween 1 and 1"));
    }
};

QTEST_APPLESS_MAIN(ShellLogicTest)
#include "ShellLogicTest.moc"
