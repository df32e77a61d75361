#include "Commands.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "CompareJob.h"
#include "ConsoleObserver.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "Settings.h"
#include "SettingsStore.h"
#include "SyntheticSequence.h"
#include "VideoFile.h"

namespace tessaro::cli {
namespace {

void PrintError(const std::string& message) {
    std::fprintf(stderr, "tessaro-cli: %s\n", message.c_str());
}

// The user's settings file, with problems reported on standard error.
class UserStore {
  public:
    UserStore() : file_(DefaultSettingsPath()) {
        file_.SetProblemHandler([](const std::string& m) { PrintError("warning: " + m); });
    }
    FileSettingsStore& File() { return file_; }

    // The stored values with this run's overrides; false after a bad override.
    bool Values(const std::vector<std::string>& overrides, SettingsMap* values) {
        SettingsMap extra;
        for (const std::string& item : overrides) {
            const size_t eq = item.find('=');
            const std::string key = item.substr(0, eq);
            const SettingInfo* info = FindSetting(key);
            if (eq == std::string::npos || !info) {
                PrintError("--set expects Group/Name=VALUE with a known setting: " + item);
                return false;
            }
            std::string error;
            if (!ValidateSettingText(*info, item.substr(eq + 1), &error)) {
                PrintError(error);
                return false;
            }
            extra[key] = item.substr(eq + 1);
        }
        OverlaySettingsStore overlay(file_, extra);
        *values = overlay.ReadAll();
        return true;
    }

  private:
    FileSettingsStore file_;
};

// Answers the picture-size question from --size and re-reads the coder settings on a raw open.
class CliHost : public VideoFileHost {
  public:
    CliHost(const std::string& size, const SettingsMap& values, CodecSettings* settings)
        : size_(size), values_(values), settings_(settings) {}
    bool AskPictureSize(const std::string& title, int* width, int* height) override {
        if (size_.empty()) {
            PrintError(title + ": give the picture size with --size WxH");
            return false;
        }
        // A size that is given but not of the form WxH is an invalid size, not a missing one.
        char x = 0;
        char rest = 0;
        if (std::sscanf(size_.c_str(), "%d%c%d%c", width, &x, height, &rest) != 3 || (x != 'x' && x != 'X')) {
            *width = *height = 0;
        }
        return true;
    }
    void RawOpened(int frameCount, int format, int width, int height) override {
        ReinitEncoderParams(values_, frameCount, format, width, height, settings_);
    }

  private:
    std::string size_;
    const SettingsMap& values_;
    CodecSettings* settings_;
};

// While alive, SIGINT and SIGTERM stop the job (after its current frame) instead of killing the
// process, so that everything written so far stays in a properly closed file.
class StopOnSignal {
  public:
    explicit StopOnSignal(Job& job) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
        waiter_ = std::thread([this, set, &job] {
            for (;;) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0 || done_.load()) return;
                if (signal == SIGINT || signal == SIGTERM) job.Stop();
            }
        });
    }
    ~StopOnSignal() {
        done_.store(true);
        pthread_kill(waiter_.native_handle(), SIGUSR1);
        waiter_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

  private:
    sigset_t previous_;
    std::atomic<bool> done_{false};
    std::thread waiter_;
};

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// INPUT with its extension replaced by ".263".
std::string DerivedOutput(const std::string& input) {
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? input.substr(0, dot) : input) + ".263";
}

const char* FormatName(int format) {
    static const char* names[] = {"", "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "custom"};
    return format >= 1 && format <= 6 ? names[format] : "unknown";
}

// The settings of one command: what the store holds, with this run's --set overrides.
struct RunSettings {
    SettingsMap values;
    CodecSettings settings;

    bool Load(const CommonOptions& common) {
        UserStore store;
        if (!store.Values(common.overrides, &values)) return false;
        settings = LoadSettings(values);
        return true;
    }
};

enum class Expect { kAny, kRaw, kBitstream };

// Opens `path`; prints why and returns false when it cannot be opened or is not of the kind
// the command expects.
bool OpenForCommand(VideoFile& file, const std::string& path, VideoFileHost* host, Expect expect) {
    if (!file.Open(path, host)) {
        PrintError(file.Error());
        return false;
    }
    if (expect == Expect::kRaw && !file.isRaw()) {
        PrintError(path + " is not a raw YUV sequence");
        return false;
    }
    if (expect == Expect::kBitstream && !file.isBitstream()) {
        PrintError(path + " is not an H.263 bitstream");
        return false;
    }
    return true;
}

}  // namespace

int RunEncode(const EncodeOptions& options, const CommonOptions& common) {
    RunSettings run;
    if (!run.Load(common)) return 2;
    CodecSettings& settings = run.settings;
    CliHost host(common.size, run.values, &settings);
    VideoFile input(settings.frameRateIndex);
    if (!OpenForCommand(input, options.input, &host, Expect::kRaw)) return 1;
    if (options.start >= 0) settings.coder.StartFrame = options.start;
    if (options.end >= 0) settings.coder.EndFrame = options.end;
    // An --end past the last frame is clamped by the job; a range that would code nothing is refused.
    const int lastFrame = input.frameCount() - 1;
    if (settings.coder.StartFrame > lastFrame) {
        PrintError(Format("--start %d is past the last frame of %s (%d)", settings.coder.StartFrame,
                          options.input.c_str(), lastFrame));
        return 2;
    }
    if (settings.coder.EndFrame < settings.coder.StartFrame) {
        PrintError(Format("the frame range %d..%d is empty%s", settings.coder.StartFrame,
                          settings.coder.EndFrame, options.end < 0 ? "; give --end as well" : ""));
        return 2;
    }

    EncodeJobConfig config;
    config.input = &input;
    config.outputPath = options.output.empty() ? settings.general.DefaultOutputFile : options.output;
    if (config.outputPath.empty()) {
        config.outputPath = DerivedOutput(options.input);
        if (Exists(config.outputPath)) {
            PrintError(config.outputPath + " exists; name the output with -o to replace it");
            return 1;
        }
    }
    config.reconPath = options.recon;
    config.snrWithBPictures = options.bPictureSnr;
    config.settings = settings;

    ConsoleObserver observer;
    EncodeJob job;
    StopOnSignal stopper(job);
    std::string error;
    if (!job.Start(config, observer, &error)) {
        PrintError(error);
        return 1;
    }
    return job.Wait().completed ? 0 : 1;
}

int RunDecode(const std::string& inputPath, const std::string& output, const CommonOptions& common) {
    RunSettings run;
    if (!run.Load(common)) return 2;
    const CodecSettings& settings = run.settings;
    VideoFile input(settings.frameRateIndex);
    if (!OpenForCommand(input, inputPath, nullptr, Expect::kBitstream)) return 1;
    DecodeJobConfig config;
    config.input = &input;
    config.outputPath = output;
    config.settings = settings;
    ConsoleObserver observer;
    DecodeJob job;
    StopOnSignal stopper(job);
    std::string error;
    if (!job.Start(config, observer, &error)) {
        PrintError(error.empty() ? inputPath + " is not an H.263 bitstream" : error);
        return 1;
    }
    const JobResult& result = job.Wait();
    if (!result.completed && settings.general.LogInfoCoder == 0) PrintError("decoding terminated");
    return result.completed ? 0 : 1;
}

int RunCompare(const std::string& firstPath, const std::string& secondPath, const CommonOptions& common) {
    RunSettings run;
    if (!run.Load(common)) return 2;
    CliHost host(common.size, run.values, &run.settings);
    VideoFile first, second;
    if (!OpenForCommand(first, firstPath, &host, Expect::kRaw) ||
        !OpenForCommand(second, secondPath, &host, Expect::kRaw)) {
        return 1;
    }
    ConsoleObserver observer;
    CompareJob job;
    StopOnSignal stopper(job);
    if (!job.Start(first, second, observer)) return 1;
    return job.Wait().completed ? 0 : 1;
}

int RunInfo(const std::string& path, const CommonOptions& common) {
    RunSettings run;
    if (!run.Load(common)) return 2;
    CliHost host(common.size, run.values, &run.settings);
    VideoFile file(run.settings.frameRateIndex);
    if (!OpenForCommand(file, path, &host, Expect::kAny)) return 1;
    std::printf("File: %s\n", file.name().c_str());
    std::printf("Format: %s (%d), %dx%d\n", FormatName(file.format()), file.format(), file.width(),
                file.height());
    if (file.isRaw()) {
        std::printf("Type: raw YUV 4:2:0 (I420), %lld bytes per frame\n",
                    static_cast<long long>(file.frameBytes()));
        std::printf("Frames: %d\n", file.frameCount());
        std::printf("Frame rate: %.1f fps\n", file.frameRate());
        std::printf("Bitrate: %.1f Kbps\n", file.bitrateKbps());
    } else {
        std::printf("Type: H.263 bitstream, %llu bytes\n",
                    static_cast<unsigned long long>(file.bitstreamSize()));
        std::printf("Decoded name: %s\n", file.decodedName().c_str());
    }
    return 0;
}

int RunGenerate(const std::string& format, int frames, const std::string& output, unsigned seed) {
    SyntheticOptions o;
    if (!ParseSizeName(format, &o.width, &o.height)) {
        PrintError("unknown picture size " + format +
                   " (sqcif, qcif, cif, 4cif, 16cif or WxH with even sizes)");
        return 2;
    }
    if (frames < 1) {
        PrintError("--frames must be at least 1");
        return 2;
    }
    o.frames = frames;
    o.seed = seed;
    FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) {
        PrintError("Error Opening " + output);
        return 1;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(o.width) * o.height * 3 / 2);
    bool ok = true;
    for (int f = 0; f < o.frames && ok; ++f) {
        GenerateSyntheticFrame(o, f, frame.data());
        ok = std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok) PrintError("writing " + output + " failed");
    return ok ? 0 : 1;
}

int RunSettingsList() {
    UserStore store;
    const SettingsMap values = store.File().ReadAll();
    const CodecSettings settings = LoadSettings(values);
    std::printf("# %s\n", store.File().Path().c_str());
    for (const SettingInfo& info : SettingsRegistry()) {
        std::printf("%s = %s%s\n", info.key, SettingText(settings, info).c_str(),
                    values.count(info.key) ? "" : " (default)");
    }
    return 0;
}

int RunSettingsGet(const std::string& key) {
    const SettingInfo* info = FindSetting(key);
    if (!info) {
        PrintError("unknown setting " + key + " (see: tessaro-cli settings list)");
        return 2;
    }
    UserStore store;
    std::printf("%s\n", SettingText(LoadSettings(store.File().ReadAll()), *info).c_str());
    return 0;
}

int RunSettingsSet(const std::string& key, const std::string& value) {
    const SettingInfo* info = FindSetting(key);
    if (!info) {
        PrintError("unknown setting " + key + " (see: tessaro-cli settings list)");
        return 2;
    }
    UserStore store;
    const CodecSettings loaded = LoadSettings(store.File().ReadAll());
    CodecSettings edited = loaded;
    std::string error;
    if (!SetSettingFromText(&edited, *info, value, &error)) {
        PrintError(error);
        return 2;
    }
    return SaveSettings(store.File(), loaded, edited, {key}) ? 0 : 1;
}

int RunSettingsReset() {
    UserStore store;
    return store.File().Update([](SettingsMap& values) { values.clear(); }) ? 0 : 1;
}

}  // namespace tessaro::cli
