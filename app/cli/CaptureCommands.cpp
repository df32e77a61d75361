#include "CaptureCommands.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "CaptureJob.h"
#include "ConsoleObserver.h"
#include "RunSupport.h"
#include "FrameSource.h"
#include "Settings.h"
#include "SettingsStore.h"
#include "SyntheticSequence.h"
#include "TestPatternSource.h"
#include "VideoFile.h"

namespace tessaro::cli {
namespace {

// The console's reports, with the source's errors shown as driver warnings.
class CaptureConsole : public CaptureObserver {
  public:
    void Log(const std::string& line) override { console_.Log(line); }
    void Error(const std::string& message) override { console_.Error(message); }
    void ProgressStart(const std::string& label, int minimum, int maximum) override {
        console_.ProgressStart(label, minimum, maximum);
    }
    void ProgressPosition(int position) override { console_.ProgressPosition(position); }
    void ProgressStop() override { console_.ProgressStop(); }
    void DriverWarning(int code, const std::string& text) override {
        (void)code;
        console_.Error("Driver Warning: " + text);
    }

  private:
    ConsoleObserver console_;
};


// The stored settings with this run's --set overrides; false after a bad override.
bool LoadValues(const std::vector<std::string>& overrides, SettingsMap* values) {
    FileSettingsStore file(DefaultSettingsPath());
    file.SetProblemHandler([](const std::string& m) { PrintError("warning: " + m); });
    int sliceLength = 0;
    if (!RunValues(file, overrides, values, &sliceLength)) return false;
    if (sliceLength != 0) {
        PrintError(std::string(kSliceLengthKey) + " is not taken by capture");
        return false;
    }
    return true;
}

std::string SizeList(const SourceFormat& format) {
    std::string text;
    for (const FrameSize& s : format.sizes) text += " " + SizePaneText(s.width, s.height);
    if (format.customSizes) {
        text += " (or any size from " + SizePaneText(format.minimum.width, format.minimum.height) + " to " +
                SizePaneText(format.maximum.width, format.maximum.height) + ")";
    }
    return text;
}

}  // namespace

int RunSources(const std::string& deviceFolder) {
    for (const SourceInfo& info : ListSources(deviceFolder)) {
        std::printf("%s%s\n", info.name.c_str(),
                    info.device.empty() ? "" : (" [" + info.device + "]").c_str());
        std::string error;
        const std::unique_ptr<FrameSource> source = OpenSource(info, &error);
        if (!source) {
            std::printf("  (%s)\n", error.c_str());
            continue;
        }
        for (const SourceFormat& format : source->Formats()) {
            std::printf("  %-5s%s%s\n", FourccText(format.fourcc).c_str(), SizeList(format).c_str(),
                        CaptureFormatAccepted(format.fourcc) ? "" : "  [not accepted for capture]");
        }
    }
    return 0;
}

int RunCapture(const CaptureOptions& options) {
    SettingsMap values;
    std::vector<std::string> overrides = options.overrides;
    if (options.threads >= 0) overrides.push_back("Coder/Threads=" + std::to_string(options.threads));
    if (!LoadValues(overrides, &values)) return 2;
    CodecSettings settings = LoadSettings(values);
    if (options.output.empty()) {
        PrintError("name the output with -o");
        return 2;
    }
    if (options.frames == 0) {
        PrintError("--frames must be at least 1");
        return 2;
    }
    std::string error;
    std::unique_ptr<FrameSource> source = OpenSourceNamed(options.source, &error, options.deviceFolder);
    if (!source) {
        PrintError(error);
        return 1;
    }
    uint32_t fourcc = source->fourcc();
    int width = source->width(), height = source->height();
    if (!options.format.empty()) {
        fourcc = ParseFourcc(options.format);
        if (fourcc == 0) {
            PrintError("--format expects a FOURCC such as I420, YV12, YUY2 or UYVY: " + options.format);
            return 2;
        }
    }
    if (!options.size.empty()) {
        int w = 0, h = 0;
        char x = 0, rest = 0;
        if (!ParseSizeName(options.size, &w, &h) &&
            (std::sscanf(options.size.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 ||
             (x != 'x' && x != 'X') || w <= 0 || h <= 0)) {
            PrintError("--size expects WxH or sqcif, qcif, cif, 4cif, 16cif: " + options.size);
            return 2;
        }
        width = w;
        height = h;
    }
    if (fourcc != source->fourcc() || width != source->width() || height != source->height()) {
        if (!source->SetFormat(fourcc, width, height, &error)) {
            PrintError(error);
            return 1;
        }
    }
    width = source->width();
    height = source->height();

    CaptureConfig config;
    config.outputPath = options.output;
    config.encode = options.encode;
    config.frameRate = FrameRateOfIndex(settings.frameRateIndex);
    if (options.encode) {
        ReinitEncoderParams(values, 1000, PictureFormatOfSize(width, height), width, height, &settings);
        if (options.frames > 0) settings.coder.EndFrame = options.frames - 1;
    } else {
        config.frameLimit = options.frames;
    }
    config.settings = settings;

    CaptureJob job(std::move(source));
    job.SetFrameRate(config.frameRate);
    CaptureConsole observer;
    job.SetIdleObserver(&observer);
    // Interrupting ends a raw capture at once and a capture and encoding at its next coded frame.
    StopOnSignal stopper([&job, encode = options.encode] {
        if (encode) {
            job.Stop();
        } else {
            job.StopCapture();
        }
    });
    if (!job.Start(config, observer, &error)) {
        PrintError(error);
        return 1;
    }
    const JobResult& result = job.Wait();
    job.SetIdleObserver(nullptr);
    return result.status == JobStatus::kCompleted ? 0 : 1;
}

CaptureCommands::CaptureCommands(CLI::App& app) {
    capture_ =
        app.add_subcommand("capture", "Capture live video into a raw YUV file, or encode it as it arrives");
    capture_->add_option("--source", options_.source,
                         "Source name or device node (default: the first source)");
    capture_->add_option("--format", options_.format, "Pixel format: I420, YV12, YUY2 or UYVY")
        ->type_name("FOURCC");
    capture_->add_option("--size", options_.size, "Picture size (WxH, or sqcif, qcif, cif, 4cif, 16cif)")
        ->type_name("WxH");
    capture_
        ->add_option(
            "--frames", options_.frames,
            "Frames to capture (raw: default until interrupted; encoding: default Coder EndFrame + 1)")
        ->check(CLI::PositiveNumber);
    capture_->add_flag("--encode", options_.encode, "Encode into an H.263+ bitstream instead of a raw file");
    capture_
        ->add_option("--threads", options_.threads,
                     "With --encode: threads that encode each picture (0: one per processor core; overrides "
                     "Coder/Threads)")
        ->check(CLI::Range(0, 64));
    capture_->add_option("-o,--output", options_.output, "Raw YUV file, or with --encode the .263 file")
        ->required();
    capture_
        ->add_option("--set", options_.overrides,
                     "Override a setting for this run, one per --set: Group/Name=VALUE")
        ->type_name("KEY=VALUE")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    sources_ = app.add_subcommand("sources", "List the video sources with their formats and sizes");
}

int CaptureCommands::Run() const {
    if (*sources_) return RunSources(options_.deviceFolder);
    return RunCapture(options_);
}

}  // namespace tessaro::cli
