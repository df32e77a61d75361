// The plot and difference logic without windows: the series built from a run's reports, the axis
// limits, the CSV rows, the amplified difference; and the bridge that carries the reports from a
// worker thread to the interface thread in order.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "CsvReport.h"
#include "DifferenceImage.h"
#include "JobBridge.h"
#include "PlotSeries.h"

using namespace tessaro::shell;
using tessaro::FrameComparison;
using tessaro::PictureReport;

namespace {

PictureReport Picture(int frame, char type, uint32_t bytes, double y = 0, double u = 0, double v = 0) {
    PictureReport p;
    p.frame = frame;
    p.type = type;
    p.bytes = bytes;
    p.snrMeasured = y > 0;
    p.snrY = y, p.snrU = u, p.snrV = v;
    return p;
}

}  // namespace

class PlotLogicTest : public QObject {
    Q_OBJECT
  private slots:
    // Reports come in coding order (I0 P2 B1 P4 B3); the bars and lines go by frame number.
    void seriesFollowFrameNumbersWhateverTheCodingOrder() {
        PlotSeries s;
        s.Start(PlotKind::kEncode);
        s.Add(Picture(0, 'I', 3000, 34.5, 38.0, 39.0));
        s.Add(Picture(2, 'P', 900, 33.0, 37.5, 38.5));
        s.Add(Picture(1, 'B', 200, 32.0, 37.0, 38.0));
        s.Add(Picture(4, 'P', 800, 33.5, 37.6, 38.6));
        s.Add(Picture(3, 'B', 0, 31.5, 36.0, 37.0));  // a B-picture sent with its anchor
        QCOMPARE(s.Count('I'), 1);
        QCOMPARE(s.Count('P'), 2);
        QCOMPARE(s.Count('B'), 2);
        QCOMPARE(s.MaxBytes(), 3000u);
        QCOMPARE(s.FirstFrame(), 0);
        QCOMPARE(s.LastFrame(), 4);
        const std::vector<PlotPoint> p = s.Bars('P');
        QCOMPARE(p.size(), size_t{8});
        const std::vector<PlotPoint> expected = {{1.6, 0}, {1.6, 900}, {2.4, 900}, {2.4, 0},
                                                 {3.6, 0}, {3.6, 800}, {4.4, 800}, {4.4, 0}};
        QVERIFY(p == expected);
        const std::vector<PlotPoint> b = s.Bars('B');
        QCOMPARE(b[0].x, 0.6);
        QCOMPARE(b[5].y, 0.0);  // frame 3, zero bytes: a bar of no height, still counted
        QVERIFY(s.Bars('X').empty());
        const std::vector<PlotPoint> y = s.Snr(0);
        QCOMPARE(y.size(), size_t{5});
        for (size_t i = 0; i < y.size(); ++i) QCOMPARE(y[i].x, double(i));
        QCOMPARE(y[1].y, 32.0);
        QCOMPARE(s.Snr(2)[3].y, 37.0);
        // The order of the reports is kept for the CSV rows.
        QCOMPARE(s.pictures()[2].frame, 1);
        QCOMPARE(s.Csv(), tessaro::PictureCsv(s.pictures()));
        QVERIFY(s.Csv().rfind("frame,type,bytes,snr_y,snr_u,snr_v\n0,I,3000,34.50,38.00,39.00\n2,P,900,",
                              0) == 0);
    }

    void pictureWithoutSnrHasBarsButNoLinePoint() {
        PlotSeries s;
        s.Start(PlotKind::kEncode);
        s.Add(Picture(0, 'I', 100));
        s.Add(Picture(1, 'P', 50));
        QVERIFY(!s.HasSnr());
        QVERIFY(s.Snr(0).empty());
        QCOMPARE(s.Bars('I').size(), size_t{4});
        QCOMPARE(s.Csv(), std::string("frame,type,bytes,snr_y,snr_u,snr_v\n0,I,100,,,\n1,P,50,,,\n"));
    }

    void reportsOfTheOtherKindAreIgnoredAndStartEmpties() {
        PlotSeries s;
        QVERIFY(s.Csv().empty());
        s.Add(Picture(0, 'I', 100));  // no run yet
        QVERIFY(s.empty());
        s.Start(PlotKind::kCompare);
        s.Add(Picture(0, 'I', 100));
        s.Add(FrameComparison{0, 30.0, 40.0, 41.0});
        QCOMPARE(s.pictures().size(), size_t{0});
        QCOMPARE(s.comparisons().size(), size_t{1});
        QCOMPARE(s.Csv(), std::string("frame,snr_y,snr_u,snr_v\n0,30.00,40.00,41.00\n"));
        s.Start(PlotKind::kEncode);
        QVERIFY(s.empty());
        QCOMPARE(s.FirstFrame(), 0);
        QCOMPARE(s.LastFrame(), 1);
    }

    // 1000 dB (a plane without error) is drawn at the top of the axis, which follows the finite
    // values; a run of identical frames gets a default axis.
    void identicalPlanesStandAtTheCeiling() {
        PlotSeries s;
        s.Start(PlotKind::kCompare);
        QCOMPARE(s.SnrCeiling(), 60.0);
        s.Add(FrameComparison{0, 1000.0, 1000.0, 1000.0});
        QCOMPARE(s.SnrCeiling(), 60.0);
        QCOMPARE(s.SnrFloor(), 30.0);
        QCOMPARE(s.Snr(1)[0].y, 60.0);
        s.Add(FrameComparison{1, 36.2, 1000.0, 41.7});
        QCOMPARE(s.SnrCeiling(), 50.0);  // 41.7 + 5, rounded up to 10
        QCOMPARE(s.SnrFloor(), 30.0);
        QCOMPARE(s.Snr(0)[0].y, 50.0);
        QCOMPARE(s.Snr(0)[1].y, 36.2);
        QCOMPARE(s.Snr(1)[1].y, 50.0);
        s.Add(FrameComparison{2, 8.0, 12.0, 12.5});
        QCOMPARE(s.SnrFloor(), 0.0);
        // The CSV keeps the measured value.
        QVERIFY(s.Csv().find("\n1,36.20,1000.00,41.70\n") != std::string::npos);
    }

    void differenceIsAbsoluteAmplifiedAndClipped() {
        const uint8_t a[] = {0, 10, 200, 255, 7, 128};
        const uint8_t b[] = {0, 13, 190, 0, 7, 120};
        uint8_t out[6] = {};
        QCOMPARE(AmplifiedDifference(a, b, 6, 4, out), 255);
        const uint8_t expected[] = {0, 12, 40, 255, 0, 32};
        QVERIFY(std::equal(out, out + 6, expected));
        // Swapping the inputs gives the same picture.
        uint8_t swapped[6] = {};
        AmplifiedDifference(b, a, 6, 4, swapped);
        QVERIFY(std::equal(out, out + 6, swapped));
        // Gains outside 1..32 are clamped.
        AmplifiedDifference(a, b, 6, 0, out);
        QCOMPARE(out[1], uint8_t{3});
        AmplifiedDifference(a, b, 6, 1000, out);
        QCOMPARE(out[1], uint8_t{96});
        QCOMPARE(out[2], uint8_t{255});
    }

    void differenceOfEqualPlanesIsBlackAtEveryGain() {
        std::vector<uint8_t> plane(176 * 144);
        for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint8_t>(i * 7);
        std::vector<uint8_t> out(plane.size(), 99);
        for (int gain : kDifferenceGains) {
            QCOMPARE(AmplifiedDifference(plane.data(), plane.data(), plane.size(), gain, out.data()), 0);
            QVERIFY(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 0; }));
        }
    }

    // The worker's reports reach the interface thread in the order it made them, each handled
    // before the worker goes on.
    void bridgeDeliversReportsInOrder() {
        JobBridge bridge;
        QStringList seen;
        connect(&bridge, &JobBridge::logLine, this, [&](const QString& line) { seen << line; });
        connect(&bridge, &JobBridge::pictureReported, this, [&](const PictureReport& p) {
            seen << QStringLiteral("picture %1 %2 %3").arg(p.frame).arg(QLatin1Char(p.type)).arg(p.bytes);
        });
        connect(&bridge, &JobBridge::frameCompared, this, [&](const FrameComparison& f) {
            seen << QStringLiteral("frame %1 %2").arg(f.frame).arg(f.snrY, 0, 'f', 2);
        });
        QSignalSpy pictures(&bridge, &JobBridge::pictureReported);
        std::atomic<int> handledBeforeNext{0};
        std::thread worker([&] {
            bridge.Log("-> first");
            bridge.Picture(Picture(0, 'I', 1234, 30.0, 31.0, 32.0));
            handledBeforeNext += seen.size() == 2;  // the worker waited for the picture
            bridge.Log("-> between");
            bridge.Compared(FrameComparison{3, 41.5, 42.0, 43.0});
            bridge.Picture(Picture(2, 'P', 77));
            tessaro::JobResult result;
            result.completed = true;
            bridge.Finished(result);
        });
        QSignalSpy finished(&bridge, &JobBridge::finished);
        QTRY_COMPARE(finished.count(), 1);
        worker.join();
        QCOMPARE(seen, QStringList({QStringLiteral("-> first"), QStringLiteral("picture 0 I 1234"),
                                    QStringLiteral("-> between"), QStringLiteral("frame 3 41.50"),
                                    QStringLiteral("picture 2 P 77")}));
        QCOMPARE(handledBeforeNext.load(), 1);
        QCOMPARE(pictures.count(), 2);
        const auto first = pictures.first().first().value<PictureReport>();
        QCOMPARE(first.snrV, 32.0);
        QVERIFY(first.snrMeasured);
    }

    // After a stop the worker no longer waits, and a detached bridge drops what was not handled.
    void bridgeStoppedDoesNotWaitAndDetachedDrops() {
        JobBridge bridge;
        QSignalSpy pictures(&bridge, &JobBridge::pictureReported);
        bridge.StopRequested();
        std::thread worker([&] {
            for (int i = 0; i < 5; ++i) bridge.Picture(Picture(i, 'P', 10));
        });
        worker.join();  // returns without the event loop running
        QCOMPARE(pictures.count(), 0);
        QTRY_COMPARE(pictures.count(), 5);
        QCOMPARE(pictures.at(4).first().value<PictureReport>().frame, 4);
        std::thread late([&] { bridge.Picture(Picture(9, 'P', 10)); });
        late.join();
        bridge.Detach();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pictures.count(), 5);
    }
};

QTEST_MAIN(PlotLogicTest)
#include "PlotLogicTest.moc"
