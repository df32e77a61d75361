#include "Commands.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "AviFile.h"
#include "CompareJob.h"
#include "ConsoleObserver.h"
#include "CsvReport.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "OutputFiles.h"
#include "RunSupport.h"
#include "Settings.h"
#include "SettingsStore.h"
#include "StreamInfo.h"
#include "SyntheticSequence.h"
#include "VideoFile.h"
#include "Y4m.h"

namespace tessaro::cli {
namespace {

// Decimal digits only (no sign, no spaces, nothing after), within minimum..maximum.
bool ParseWholeNumber(const std::string& text, long long minimum, long long maximum, int* out) {
    if (text.empty() || text.size() > 18) return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < minimum || value > maximum) return false;
    *out = static_cast<int>(value);
    return true;
}

// The user's settings file, with problems reported on standard error.
class UserStore {
  public:
    UserStore() : file_(DefaultSettingsPath()) {
        file_.SetProblemHandler([](const std::string& m) { PrintError("warning: " + m); });
    }
    FileSettingsStore& File() { return file_; }

    // The stored values with this run's overrides; false after a bad override. The slice length,
    // which is no stored setting, goes to `sliceLength` (0 when not given).
    bool Values(const std::vector<std::string>& overrides, SettingsMap* values, int* sliceLength) {
        return RunValues(file_, overrides, values, sliceLength);
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
        // A size that is given but not of the form WxH (or too large for a number) is an invalid
        // size, not a missing one.
        const size_t x = size_.find_first_of("xX");
        if (x == std::string::npos || !ParseWholeNumber(size_.substr(0, x), 0, INT32_MAX, width) ||
            !ParseWholeNumber(size_.substr(x + 1), 0, INT32_MAX, height)) {
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

// A FOURCC as its four characters, with unprintable ones as '.'.
std::string FourCcText(uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xff);
        text += (c >= 32 && c < 127) ? c : '.';
    }
    return text;
}

const char* FormatName(int format) {
    static const char* names[] = {"", "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "custom"};
    return format >= 1 && format <= 6 ? names[format] : "unknown";
}

// The settings of one command: what the store holds, with this run's --set overrides.
struct RunSettings {
    SettingsMap values;
    CodecSettings settings;
    int sliceLength = 0;  // --set Advanced/MBlocksPerSlice; 0: one macroblock row

    bool Load(const CommonOptions& common) {
        UserStore store;
        if (!store.Values(common.overrides, &values, &sliceLength)) return false;
        settings = LoadSettings(values);
        return true;
    }
};

enum class Expect { kAny, kRaw, kBitstream };

// Opens `path`; prints why and returns false when it cannot be opened or is not of the kind
// the command expects.
bool OpenForCommand(VideoFile& file, const std::string& path, VideoFileHost* host, Expect expect) {
    // "-": a Y4M sequence on standard input.
    const bool opened = path == "-" && expect == Expect::kRaw ? file.OpenY4mStream(STDIN_FILENO, "-", host)
                                                              : file.Open(path, host);
    if (!opened) {
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

// Refuses a CSV file that would land on one of the run's files.
bool CsvPathIsFree(const std::string& csv, const std::vector<std::string>& files, const VideoFile* input) {
    if (csv.empty()) return true;
    const FileIdentity target = IdentifyPath(csv);
    if (target.exists && !target.regular) return true;
    if (input && target == IdentifyRegularFile(input->device(), input->inode())) {
        PrintError("Error Opening " + csv + ": it is the same file as the input " + input->name());
        return false;
    }
    for (const std::string& file : files) {
        if (!file.empty() && target == IdentifyPath(file)) {
            PrintError("Error Opening " + csv + ": it is the same file as " + file);
            return false;
        }
    }
    return true;
}

// Writes the CSV file of a run, when one was asked for; false after reporting a failure.
bool WriteCsv(const std::string& csv, const std::string& text) {
    if (csv.empty()) return true;
    std::string error;
    if (!WriteTextFile(csv, text, &error)) {
        PrintError(error);
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
    if (options.input == "-" && options.output.empty() && settings.general.DefaultOutputFile.empty()) {
        PrintError("name the output with -o when the input is standard input");
        return 2;
    }
    VideoFile input(settings.frameRateIndex);
    if (!OpenForCommand(input, options.input, &host, Expect::kRaw)) return 1;
    if (options.start >= 0) settings.coder.StartFrame = options.start;
    // Without --end every frame is encoded, however many; the 1,000-frame window is the settings
    // sheet's.
    // A stream on standard input is coded to its end unless --end says otherwise.
    const int lastFrame = input.isStream() ? INT32_MAX - 1 : input.frameCount() - 1;
    settings.coder.EndFrame = options.end >= 0 ? options.end : lastFrame;
    if (run.sliceLength > 0) {
        const int macroblocks = ((input.width() + 15) / 16) * ((input.height() + 15) / 16);
        if (run.sliceLength > macroblocks) {
            PrintError(Format("%s must be 1 to %d for %s, not %d", kSliceLengthKey, macroblocks,
                              options.input.c_str(), run.sliceLength));
            return 2;
        }
        settings.coder.MBlocksPerSlice = run.sliceLength;
    }
    // An --end past the last frame is clamped by the job; a range that would code nothing is refused.
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
    if (!CsvPathIsFree(options.csv, {config.outputPath, config.reconPath}, &input)) return 1;

    // With a sequence on standard input, standard output is left to the pipeline.
    ConsoleObserver observer(options.input == "-" ? stderr : stdout);
    observer.keepReports = !options.csv.empty();
    EncodeJob job;
    StopOnSignal stopper([&job] { job.Stop(); });
    std::string error;
    if (!job.Start(config, observer, &error)) {
        PrintError(error);
        return 1;
    }
    const bool completed = job.Wait().completed;
    const bool written = WriteCsv(options.csv, PictureCsv(observer.pictures));
    return completed && written ? 0 : 1;
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
    // "-": a Y4M sequence on standard output, and the log on standard error.
    const bool toStdout = output == "-";
    if (toStdout) {
        if (isatty(STDOUT_FILENO) == 1) {
            PrintError("standard output is a terminal; pipe it into a program or name a file with -o");
            return 2;
        }
        config.outputFd = STDOUT_FILENO;
    }
    config.y4m = !output.empty() && IsY4mPath(output);
    config.y4mRate = FrameRateOfIndex(settings.frameRateIndex);
    ConsoleObserver observer(toStdout ? stderr : stdout);
    DecodeJob job;
    StopOnSignal stopper([&job] { job.Stop(); });
    std::string error;
    if (!job.Start(config, observer, &error)) {
        PrintError(error.empty() ? inputPath + " is not an H.263 bitstream" : error);
        return 1;
    }
    const JobResult& result = job.Wait();
    if (!result.completed && settings.general.LogInfoCoder == 0) PrintError("decoding terminated");
    if (!result.completed) return 1;
    // A stream that decoded only in part is told apart from a clean one.
    if (result.skippedPictures + result.damagedPictures > 0) {
        PrintError(Format("%d pictures of %s were lost", result.skippedPictures + result.damagedPictures,
                          inputPath.c_str()));
        return 3;
    }
    return 0;
}

int RunCompare(const std::string& firstPath, const std::string& secondPath, const std::string& csv,
               const CommonOptions& common) {
    RunSettings run;
    if (!run.Load(common)) return 2;
    CliHost host(common.size, run.values, &run.settings);
    VideoFile first, second;
    if (firstPath == "-" || secondPath == "-") {
        PrintError("compare reads two files; standard input (-) is taken by encode only");
        return 2;
    }
    if (!OpenForCommand(first, firstPath, &host, Expect::kRaw) ||
        !OpenForCommand(second, secondPath, &host, Expect::kRaw)) {
        return 1;
    }
    if (!CsvPathIsFree(csv, {}, &first) || !CsvPathIsFree(csv, {}, &second)) return 1;
    ConsoleObserver observer;
    observer.keepReports = !csv.empty();
    CompareJob job;
    StopOnSignal stopper([&job] { job.Stop(); });
    if (!job.Start(first, second, observer)) return 1;
    const bool completed = job.Wait().completed;
    const bool written = WriteCsv(csv, ComparisonCsv(observer.compared));
    return completed && written ? 0 : 1;
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
    if (file.isAvi()) {
        const AviFile& avi = *file.avi();
        std::printf("Type: AVI, %d stream%s\n", avi.streamCount(), avi.streamCount() == 1 ? "" : "s");
        for (int i = 0; i < avi.streamCount(); ++i) {
            const AviStreamInfo& s = avi.streams()[i];
            std::printf("Stream %d: %s, handler %s, rate %u / scale %u, %u samples\n", i,
                        FourCcText(s.type).c_str(), FourCcText(s.handler).c_str(), s.rate, s.scale, s.length);
        }
        if (avi.video().stream < 0) {
            std::printf("Video: none\n");
        } else {
            std::printf("Video stream: %d (%s, %d bits per pixel)\n", avi.video().stream,
                        FourCcText(file.fourcc()).c_str(), file.bitsPerPixel());
            std::printf("Frames: %d\n", file.frameCount());
            std::printf("Frame rate: %.1f fps\n", file.frameRate());
            std::printf("Bitrate: %.1f Kbps\n", file.bitrateKbps());
        }
    } else if (file.isY4m()) {
        std::printf("Type: Y4M 4:2:0, %lld bytes per frame\n", static_cast<long long>(file.frameBytes()));
        std::printf("Frames: %d\n", file.frameCount());
        if (file.headerFrameRate() > 0.0) {
            std::printf("Frame rate: %.3f fps (from the header)\n", file.headerFrameRate());
        } else {
            std::printf("Frame rate: %.1f fps\n", file.frameRate());
        }
        std::printf("Bitrate: %.1f Kbps\n", file.bitrateKbps());
    } else if (file.isRaw()) {
        std::printf("Type: raw YUV 4:2:0 (I420), %lld bytes per frame\n",
                    static_cast<long long>(file.frameBytes()));
        std::printf("Frames: %d\n", file.frameCount());
        std::printf("Frame rate: %.1f fps\n", file.frameRate());
        std::printf("Bitrate: %.1f Kbps\n", file.bitrateKbps());
    } else {
        std::printf("Type: H.263 bitstream, %llu bytes\n",
                    static_cast<unsigned long long>(file.bitstreamSize()));
        std::printf("Decoded name: %s\n", file.decodedName().c_str());
        const uint8_t* stream = file.MapBitstream();
        StreamInfo stream_info;
        if (!stream || !AnalyseStream(stream, static_cast<size_t>(file.bitstreamSize()), &stream_info)) {
            PrintError("no picture header could be read in " + path);
            return 1;
        }
        const double rate = file.frameRate();
        std::printf("Pictures: %d (%s)\n", stream_info.pictures, PictureCountText(stream_info).c_str());
        if (stream_info.badHeaders > 0)
            std::printf("Unreadable picture headers: %d\n", stream_info.badHeaders);
        std::printf("Annexes: %s\n", AnnexListText(stream_info).c_str());
        std::printf("Bitrate: %.1f Kbps at %.1f fps\n", StreamBitrateKbps(stream_info, rate), rate);
        const int profile = StreamProfile(stream_info);
        if (profile >= 0) {
            std::printf("Profile: %d (%s)\n", profile, ProfileName(profile));
        } else {
            std::printf("Profile: none (the annexes in use fit no profile)\n");
        }
        const int level = StreamLevel(stream_info, rate);
        if (level >= 0) {
            std::printf("Level: %d\n", level);
        } else {
            std::printf("Level: none (picture size, rate or bitrate above level 70)\n");
        }
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
    // Written beside the target and renamed into place; a ".y4m" name gives a Y4M sequence.
    OutputFile out;
    std::string error;
    if (!out.Open(output, &error)) {
        PrintError(error);
        return 1;
    }
    const bool y4m = IsY4mPath(output);
    std::vector<uint8_t> frame(static_cast<size_t>(o.width) * o.height * 3 / 2);
    bool ok = true;
    if (y4m) {
        const std::string header = Y4mStreamHeader(o.width, o.height, 30.0);
        ok = WriteFully(out.fd(), header.data(), header.size());
    }
    for (int f = 0; f < o.frames && ok; ++f) {
        GenerateSyntheticFrame(o, f, frame.data());
        ok = (!y4m || WriteFully(out.fd(), kY4mFrameMarker, kY4mFrameMarkerBytes)) &&
             WriteFully(out.fd(), frame.data(), frame.size());
    }
    if (!ok) {
        out.Discard();
        PrintError("writing " + output + " failed");
        return 1;
    }
    if (!out.Commit(&error)) {
        PrintError(error);
        return 1;
    }
    return 0;
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
    return store.File().Reset() ? 0 : 1;
}

}  // namespace tessaro::cli
