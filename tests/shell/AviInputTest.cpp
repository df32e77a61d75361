// AVI input on files this test writes itself with libavformat: the stream choice, the picture
// facts, the frame rate, drawing and seeking, the refusals, and tessaro-cli info.
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "AviFile.h"
#include "MainFrame.h"
#include "SettingsStore.h"
#include "ShellTestSupport.h"
#include "VideoFile.h"
#include "VideoWindow.h"

#if TESSARO_HAVE_AVI
extern "C" {
#include <libavformat/avformat.h>
}
#endif

using namespace tessaro;

namespace {

#if TESSARO_HAVE_AVI
// An AVI file of raw I420 frames (each frame a flat grey level 16 * k), optionally after an
// audio stream.
bool WriteAvi(const QString& path, int width, int height, int frames, bool audioFirst, int rate = 25) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "avi", path.toUtf8().constData()) < 0) return false;
    if (audioFirst) {
        AVStream* audio = avformat_new_stream(out, nullptr);
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        audio->codecpar->sample_rate = 8000;
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
        audio->codecpar->bits_per_coded_sample = 16;
        audio->codecpar->block_align = 2;
        audio->time_base = AVRational{1, 8000};
    }
    AVStream* video = avformat_new_stream(out, nullptr);
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    video->codecpar->codec_tag = MKTAG('I', '4', '2', '0');
    video->codecpar->format = AV_PIX_FMT_YUV420P;
    video->codecpar->width = width;
    video->codecpar->height = height;
    video->codecpar->bits_per_coded_sample = 12;
    video->time_base = AVRational{1, rate};
    if (avio_open(&out->pb, path.toUtf8().constData(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(out, nullptr) < 0) return false;
    const int bytes = width * height * 3 / 2;
    for (int k = 0; k < frames; ++k) {
        AVPacket* packet = av_packet_alloc();
        av_new_packet(packet, bytes);
        memset(packet->data, 16 * k, static_cast<size_t>(width) * height);
        memset(packet->data + width * height, 128, static_cast<size_t>(bytes - width * height));
        packet->stream_index = video->index;
        packet->pts = packet->dts = k;
        packet->flags |= AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(packet, AVRational{1, rate}, video->time_base);
        av_interleaved_write_frame(out, packet);
        av_packet_free(&packet);
    }
    av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    return true;
}
#endif

// Offset of the 'strh' chunk body of video stream headers in a file's bytes, or -1.
qsizetype VideoStrh(const QByteArray& bytes) {
    qsizetype at = 0;
    while ((at = bytes.indexOf("strh", at)) >= 0) {
        if (bytes.mid(at + 8, 4) == "vids") return at + 8;
        at += 4;
    }
    return -1;
}

}  // namespace

class AviInputTest : public QObject {
    Q_OBJECT
  private:
    QString dir_;

  private slots:
    void init() {
#if !TESSARO_HAVE_AVI
        QSKIP("built without FFmpeg's libraries");
#endif
        dir_ = shelltest::MakeScratch(QStringLiteral("avi"));
    }

    void secondStreamIsTheVideo() {
#if TESSARO_HAVE_AVI
        const QString path = dir_ + QStringLiteral("/audio-first.avi");
        QVERIFY(WriteAvi(path, 176, 144, 6, true));
        VideoFile file;
        QVERIFY2(file.Open(path.toStdString()), file.Error().c_str());
        QVERIFY(file.isAvi());
        QVERIFY(!file.isRaw());
        QCOMPARE(file.avi()->streamCount(), 2);
        QCOMPARE(file.avi()->video().stream, 1);
        QCOMPARE(file.format(), 2);
        QCOMPARE(file.width(), 176);
        QCOMPARE(file.height(), 144);
        QCOMPARE(file.frameCount(), 6);
        QCOMPARE(file.frameRate(), 25.0);
        QCOMPARE(file.fourcc(), FourCc('I', '4', '2', '0'));
        // Frames decode to their grey levels, also when read out of order (seeking).
        std::vector<uint8_t> rgb(176 * 144 * 4);
        for (int k : {0, 4, 2, 5, 1}) {
            QVERIFY(file.avi()->ReadFrameRgb32(k, rgb.data(), 176 * 4));
            const int grey = rgb[4 * (72 * 176 + 88) + 1];
            QVERIFY2(std::abs(grey - (16 * k - 16) * 255 / 219) <= 3 || std::abs(grey - 16 * k) <= 3,
                     qPrintable(QString::number(grey)));
        }
        QVERIFY(file.avi()->ReadFrameRgb32(99, rgb.data(), 176 * 4));  // clamped to the last frame
#endif
    }

    void scaleZeroPlaysAt30AndOtherSizesAreCustom() {
#if TESSARO_HAVE_AVI
        const QString path = dir_ + QStringLiteral("/vga.avi");
        QVERIFY(WriteAvi(path, 320, 240, 3, false, 15));
        {
            VideoFile file;
            QVERIFY(file.Open(path.toStdString()));
            QCOMPARE(file.format(), 6);
            QCOMPARE(file.frameRate(), 15.0);
            QCOMPARE(file.bitsPerPixel(), 12);
            QCOMPARE(file.bitrateKbps(), 12.0 * 320 * 240 * 15 / 1024);
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype strh = VideoStrh(bytes);
        QVERIFY(strh > 0);
        f.seek(strh + 20);  // dwScale
        f.write(QByteArray(4, '\0'));
        f.close();
        VideoFile file;
        QVERIFY(file.Open(path.toStdString()));
        QCOMPARE(file.frameRate(), 30.0);
#endif
    }

    void filesWithoutStreamsOrDamagedHeaders() {
        // A RIFF AVI file whose header list holds no stream.
        QByteArray avih(56, '\0');
        QByteArray hdrl = QByteArray("hdrl") + "avih" + QByteArray::fromHex("38000000") + avih;
        QByteArray list = QByteArray("LIST");
        const quint32 size = static_cast<quint32>(hdrl.size());
        list.append(reinterpret_cast<const char*>(&size), 4);
        list += hdrl;
        QByteArray riff = QByteArray("RIFF");
        const quint32 riffSize = static_cast<quint32>(list.size() + 4);
        riff.append(reinterpret_cast<const char*>(&riffSize), 4);
        riff += "AVI " + list;
        const QString empty = dir_ + QStringLiteral("/nostreams.avi");
        QFile e(empty);
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.write(riff);
        e.close();
        VideoFile file;
        QVERIFY(!file.Open(empty.toStdString()));
        QCOMPARE(QString::fromStdString(file.Error()), QStringLiteral("Error Opening ") + empty);
        // Not an AVI file at all.
        const QString text = dir_ + QStringLiteral("/text.avi");
        QFile t(text);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("hello, this is no video");
        t.close();
        QVERIFY(!file.Open(text.toStdString()));
        QCOMPARE(QString::fromStdString(file.Error()), QStringLiteral("Error Opening ") + text +
                                                           QStringLiteral(": unknown file type"));
#if TESSARO_HAVE_AVI
        // A file cut in the middle of its frames, and one whose frame data is overwritten: the
        // open works, frames that cannot be delivered stay undrawn, nothing crashes.
        const QString good = dir_ + QStringLiteral("/good.avi");
        QVERIFY(WriteAvi(good, 176, 144, 6, false));
        QByteArray bytes = shelltest::ReadAll(good);
        const qsizetype movi = bytes.indexOf("movi");
        QVERIFY(movi > 0);
        for (const auto& [name, damaged] :
             {std::pair{QStringLiteral("cut.avi"), bytes.left(movi + 38016 + 40)},
              std::pair{QStringLiteral("noise.avi"), bytes.left(movi + 4) + QByteArray(bytes.size() - movi - 4, '\x5a')}}) {
            const QString path = dir_ + QLatin1Char('/') + name;
            QFile d(path);
            QVERIFY(d.open(QIODevice::WriteOnly));
            d.write(damaged);
            d.close();
            VideoFile broken;
            QVERIFY2(broken.Open(path.toStdString()), broken.Error().c_str());
            std::vector<uint8_t> rgb(176 * 144 * 4);
            for (int k : {0, 5, 3}) broken.avi()->ReadFrameRgb32(k, rgb.data(), 176 * 4);
        }
#endif
    }

    void aviWindowPlaysButCannotBeEncoded() {
#if TESSARO_HAVE_AVI
        const QString path = dir_ + QStringLiteral("/window.avi");
        QVERIFY(WriteAvi(path, 176, 144, 4, true));
        qputenv("XDG_CONFIG_HOME", (dir_ + QStringLiteral("/config")).toUtf8());
        FileSettingsStore store(DefaultSettingsPath());
        shelltest::ScriptedPrompts prompts;
        shell::MainFrame frame(store, prompts);
        frame.show();
        shell::VideoWindow* w = frame.OpenFile(path);
        QVERIFY(w);
        QVERIFY(!frame.action("startEncoding")->isEnabled());
        QVERIFY(!frame.action("compare")->isEnabled());
        QVERIFY(!frame.action("settings")->isEnabled());
        QCOMPARE(w->ratePane(), QStringLiteral("25.0 fps"));
        QCOMPARE(w->sizePane(), QStringLiteral("176x144"));
        QVERIFY(w->view()->RenderFrame());
        w->TogglePlayback();
        QVERIFY(w->playing());
        QTRY_VERIFY_WITH_TIMEOUT(!w->playing(), 10000);
        QCOMPARE(w->currentFrame(), 3);
        QVERIFY(prompts.warnings.isEmpty());
        // tessaro-cli info reports it too.
        QProcess cli;
        cli.start(QStringLiteral(TESSARO_BIN_DIR "/tessaro-cli"), {QStringLiteral("info"), path});
        QVERIFY(cli.waitForFinished(60000));
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY2(out.contains(QStringLiteral("Type: AVI, 2 streams")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("Video stream: 1 (I420, 12 bits per pixel)")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("Frames: 4")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("Format: QCIF (2), 176x144")), qPrintable(out));
#endif
    }
};

QTEST_MAIN(AviInputTest)
#include "AviInputTest.moc"
