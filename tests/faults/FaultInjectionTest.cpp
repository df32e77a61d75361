// Faults injected while jobs run: the input removed or shrunk, the output folder removed, the
// settings file replaced by a folder. Each run ends with a clear reason, as terminated where it
// cannot go on; nothing already written elsewhere is lost; nothing crashes or hangs. The faults
// are made from the job's own reports (the worker waits for each), so they land at a known frame.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../decoder/DecodeAll.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "Settings.h"
#include "SettingsStore.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

// Collects a run's reports and makes the fault when the given picture has been reported.
class FaultObserver : public JobObserver {
  public:
    FaultObserver(int atPicture, std::function<void()> fault) : atPicture_(atPicture), fault_(std::move(fault)) {}
    void Log(const std::string& line) override { lines.push_back(line); }
    void Error(const std::string& message) override { errors.push_back(message); }
    void Picture(const PictureReport&) override {
        if (++pictures == atPicture_ && fault_) fault_();
    }
    void Finished(const JobResult& r) override { result = r; }
    bool Logged(const std::string& part) const {
        for (const std::string& l : lines)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> lines, errors;
    int pictures = 0;
    JobResult result;

  private:
    int atPicture_;
    std::function<void()> fault_;
};

struct Sequence {
    explicit Sequence(const std::string& name, int frames = 20) : dir(testsupport::MakeTempDir(name)) {
        SyntheticOptions o;
        o.frames = frames;
        path = dir + "/seq.qcif";
        testsupport::WriteFile(path, GenerateSyntheticSequence(o));
    }
    EncodeJobConfig Config(const VideoFile& input, const std::string& output) const {
        EncodeJobConfig config;
        config.input = &input;
        config.outputPath = output;
        config.settings = LoadSettings({});
        ReinitEncoderParams({}, input.frameCount(), input.format(), input.width(), input.height(),
                            &config.settings);
        return config;
    }
    std::string dir, path;
};

JobResult RunEncode(const EncodeJobConfig& config, FaultObserver& observer) {
    EncodeJob job;
    std::string error;
    EXPECT_TRUE(job.Start(config, observer, &error)) << error;
    return job.Wait();
}

TEST(FaultInjection, InputShrunkOrRemovedWhileEncoding) {
    {
        // The file loses its last half while the run is at frame 3: a short read ends it.
        Sequence s("fault-shrink");
        VideoFile input;
        ASSERT_TRUE(input.Open(s.path));
        FaultObserver observer(3, [&] { ASSERT_EQ(truncate(s.path.c_str(), input.frameBytes() * 10 + 7), 0); });
        const JobResult r = RunEncode(s.Config(input, s.dir + "/out.263"), observer);
        EXPECT_EQ(r.status, JobStatus::kFailed);
        EXPECT_FALSE(r.reason.empty());
        EXPECT_FALSE(observer.Logged("Encoding completed"));
        EXPECT_LE(observer.pictures, 11);
    }
    {
        // Removing the name does not take the data away from an open file: the run completes
        // with every frame, and its output is whole.
        Sequence s("fault-remove");
        VideoFile input;
        ASSERT_TRUE(input.Open(s.path));
        FaultObserver observer(3, [&] { ASSERT_EQ(unlink(s.path.c_str()), 0); });
        const JobResult r = RunEncode(s.Config(input, s.dir + "/out.263"), observer);
        EXPECT_EQ(r.status, JobStatus::kCompleted) << r.reason;
        EXPECT_EQ(observer.pictures, 20);
        EXPECT_GT(testsupport::ReadFile(s.dir + "/out.263").size(), 0u);
    }
}

TEST(FaultInjection, OutputFolderRemovedWhileEncodingEndsWithItsReason) {
    Sequence s("fault-outdir");
    const std::string outDir = s.dir + "/out";
    ASSERT_EQ(mkdir(outDir.c_str(), 0755), 0);
    VideoFile input;
    ASSERT_TRUE(input.Open(s.path));
    FaultObserver observer(4, [&] { std::filesystem::remove_all(outDir); });
    const JobResult r = RunEncode(s.Config(input, outDir + "/out.263"), observer);
    EXPECT_EQ(r.status, JobStatus::kFailed);
    EXPECT_NE(r.reason.find("out.263"), std::string::npos) << r.reason;
    EXPECT_FALSE(observer.Logged("Encoding completed"));
    // The input is untouched.
    EXPECT_EQ(testsupport::ReadFile(s.path).size(), static_cast<size_t>(input.frameBytes() * 20));
}

TEST(FaultInjection, ARunEndedByAFaultKeepsThePicturesCodedBeforeIt) {
    Sequence s("fault-keep");
    const std::string out = s.dir + "/out.263";
    testsupport::WriteFile(out, std::vector<uint8_t>{1, 2, 3, 4, 5});
    VideoFile input;
    ASSERT_TRUE(input.Open(s.path));
    FaultObserver observer(5, [&] { ASSERT_EQ(truncate(s.path.c_str(), 100), 0); });
    const JobResult r = RunEncode(s.Config(input, out), observer);
    EXPECT_EQ(r.status, JobStatus::kFailed);
    // What replaced the earlier file is a whole stream of the pictures coded before the fault.
    const decodertest::DecodedStream decoded = decodertest::DecodeAll(testsupport::ReadFile(out));
    EXPECT_EQ(static_cast<int>(decoded.pictures.size()), observer.pictures);
    EXPECT_GE(observer.pictures, 5);
}

TEST(FaultInjection, StreamTruncatedWhileDecodingEndsTheRunNotTheProcess) {
    // The stream is mapped, not copied: pages past the new end fault when read, and the run must
    // end with its reason.
    Sequence s("fault-decode", 12);
    VideoFile raw;
    ASSERT_TRUE(raw.Open(s.path));
    FaultObserver encoding(0, nullptr);
    ASSERT_EQ(RunEncode(s.Config(raw, s.dir + "/s.263"), encoding).status, JobStatus::kCompleted);

    VideoFile stream;
    ASSERT_TRUE(stream.Open(s.dir + "/s.263"));
    struct Truncating : FaultObserver {
        using FaultObserver::FaultObserver;
        std::string path;
        void Log(const std::string& line) override {
            FaultObserver::Log(line);
            if (line.find("Decoding started") != std::string::npos) {
                EXPECT_EQ(truncate(path.c_str(), 0), 0);
            }
        }
    } truncating(0, nullptr);
    truncating.path = s.dir + "/s.263";
    DecodeJobConfig config;
    config.input = &stream;
    config.outputPath = s.dir + "/s_.qcif";
    config.settings = LoadSettings({});
    DecodeJob job;
    std::string error;
    ASSERT_TRUE(job.Start(config, truncating, &error)) << error;
    const JobResult r = job.Wait();
    EXPECT_EQ(r.status, JobStatus::kFailed);
    EXPECT_NE(r.reason.find("truncated"), std::string::npos) << r.reason;
    EXPECT_TRUE(truncating.Logged("Decoding terminated"));
}

TEST(FaultInjection, SettingsFileReplacedByAFolder) {
    const std::string dir = testsupport::MakeTempDir("fault-settings");
    const std::string path = dir + "/settings.ini";
    FileSettingsStore store(path);
    std::vector<std::string> problems;
    store.SetProblemHandler([&](const std::string& m) { problems.push_back(m); });
    ASSERT_TRUE(store.Update([](SettingsMap& m) { m["Coder/PQuantizer"] = "7"; }));
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((path + "/inside").c_str(), 0755), 0);

    // Reading gives the defaults, writing is refused with a reason, the folder stays as it was.
    EXPECT_TRUE(store.ReadAll().empty());
    EXPECT_FALSE(store.Update([](SettingsMap& m) { m["Coder/PQuantizer"] = "9"; }));
    EXPECT_FALSE(problems.empty());
    struct stat st {};
    ASSERT_EQ(stat((path + "/inside").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    const CodecSettings settings = LoadSettings(store.ReadAll());
    EXPECT_EQ(settings.coder.PQuantizer, 13);
}

}  // namespace
}  // namespace tessaro
