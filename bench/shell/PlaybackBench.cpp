// Playback cost of one frame in a video window: read, colour conversion (the SIMD path), the
// expansion to the window's image and the scaled drawing, for a 16CIF file at 100 % and a QCIF
// file at 500 %. A frame must take well under its 33 ms period at 30 fps.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <memory>

#include "CPUInfo.h"
#include "SyntheticSequence.h"
#include "VideoWindow.h"

namespace {

QString WriteSequence(int width, int height, int frames, const char* extension) {
    const QString path = QDir::tempPath() + QStringLiteral("/tessaro-playback-bench.") + QLatin1String(extension);
    tessaro::SyntheticOptions o;
    o.width = width;
    o.height = height;
    o.frames = frames;
    const std::vector<uint8_t> bytes = tessaro::GenerateSyntheticSequence(o);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
}

void Playback(benchmark::State& state, int width, int height, const char* extension, int zoom) {
    const int frames = 8;
    const QString path = WriteSequence(width, height, frames, extension);
    auto document = std::make_shared<tessaro::shell::VideoDocument>(0);
    if (!document->file.Open(path.toStdString())) {
        state.SkipWithError("cannot open the sequence");
        return;
    }
    tessaro::shell::VideoView view(document, cpuinfo::DetectCpu(), nullptr);
    view.Prepare();
    const QSize client(width * zoom, height * zoom);
    view.resize(client);
    QImage target(client, QImage::Format_RGB32);
    int k = 0;
    for (auto _ : state) {
        view.SetFrame(k);
        k = (k + 1) % frames;
        view.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    QFile::remove(path);
}

void BM_Playback16Cif100(benchmark::State& state) {
    Playback(state, 1408, 1152, "16cif", 1);
}
void BM_PlaybackQcif500(benchmark::State& state) {
    Playback(state, 176, 144, "qcif", 5);
}
BENCHMARK(BM_Playback16Cif100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlaybackQcif500)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
