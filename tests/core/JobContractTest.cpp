// The contract between a job and an interface thread: destroying or stopping a job while its
// worker waits for the interface, the structured picture reports and the final status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <regex>
#include <thread>

#include "CompareJob.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "OutputFiles.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

// Acts as a window application does: every report is queued to the "interface thread" (the test's
// own thread) and the worker waits until that thread has handled it, or until a stop abandons it.
class InterfaceThreadObserver : public JobObserver {
  public:
    void Log(const std::string& line) override {
        Post([this, line] { lines.push_back(line); });
    }
    void Picture(const PictureReport& picture) override {
        Post([this, picture] { pictures.push_back(picture); });
    }
    void Finished(const JobResult& result) override {
        Post([this, result] {
            finished = true;
            status = result.status;
        });
    }
    void StopRequested() override { handoff_.Abandon(); }

    // Interface thread: handles the next report, waiting for it to arrive; false when none came
    // within a generous bound (a hung worker fails the test instead of hanging it).
    bool HandleOne() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(60), [&] { return !queue_.empty(); })) return false;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        item.handle();
        handoff_.Done(item.ticket);
        return true;
    }
    // Interface thread: handles everything queued so far.
    void HandleQueued() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (queue_.empty()) return;
            Item item = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            item.handle();
            handoff_.Done(item.ticket);
        }
    }

    std::vector<std::string> lines;
    std::vector<PictureReport> pictures;
    bool finished = false;
    JobStatus status = JobStatus::kFailed;

  private:
    struct Item {
        uint64_t ticket;
        std::function<void()> handle;
    };
    void Post(std::function<void()> handle) {
        const uint64_t ticket = handoff_.Begin();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({ticket, std::move(handle)});
        }
        arrived_.notify_all();
        handoff_.Await(ticket);
    }

    ReportHandoff handoff_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Item> queue_;
};

// Reports on the worker thread, as they come.
class Collector : public JobObserver {
  public:
    void Log(const std::string& line) override { lines.push_back(line); }
    void Error(const std::string& message) override { errors.push_back(message); }
    void Picture(const PictureReport& picture) override { pictures.push_back(picture); }
    void Compared(const FrameComparison& frame) override { compared.push_back(frame); }
    void Finished(const JobResult& result) override { finishedStatus = result.status; }
    std::vector<std::string> lines, errors;
    std::vector<PictureReport> pictures;
    std::vector<FrameComparison> compared;
    JobStatus finishedStatus = JobStatus::kFailed;
};

struct Fixture {
    explicit Fixture(const std::string& name, int frames = 12) : dir(testsupport::MakeTempDir(name)) {
        SyntheticOptions o;
        o.frames = frames;
        testsupport::WriteFile(dir + "/seq.qcif", GenerateSyntheticSequence(o));
        EXPECT_TRUE(input.Open(dir + "/seq.qcif"));
    }
    EncodeJobConfig Config(bool showSnr, bool bPictures = false) const {
        EncodeJobConfig config;
        config.input = &input;
        config.outputPath = dir + "/out.263";
        config.settings = LoadSettings({});
        config.settings.general.ShowSNR = showSnr ? 1 : 0;
        ReinitEncoderParams({}, input.frameCount(), input.format(), input.width(), input.height(),
                            &config.settings);
        config.settings.coder.UseTrueBPictures = bPictures ? 1 : 0;
        config.settings.coder.BPictures = 2;
        return config;
    }
    std::string dir;
    VideoFile input;
};

TEST(JobContract, StopAndWaitWhileTheWorkerWaitsForTheInterfaceThread) {
    Fixture f("contract-stop-wait");
    InterfaceThreadObserver ui;
    EncodeJob job;
    std::string error;
    ASSERT_TRUE(job.Start(f.Config(true), ui, &error)) << error;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ui.HandleOne());
    // The worker is now waiting for its fourth report; stopping and waiting must not deadlock.
    job.Stop();
    const JobResult& result = job.Wait();
    EXPECT_EQ(result.status, JobStatus::kStopped);
    EXPECT_FALSE(result.completed);
    ui.HandleQueued();
    EXPECT_TRUE(ui.finished);
    EXPECT_EQ(ui.status, JobStatus::kStopped);
    // Nothing was lost or reordered on the way: the terminated line follows the frame lines.
    ASSERT_GE(ui.lines.size(), 3u);
    EXPECT_EQ(ui.lines.front().rfind("-> Encoding started:", 0), 0u);
    EXPECT_NE(std::find(ui.lines.begin(), ui.lines.end(),
                        Format("-> Encoding terminated (%d frames encoded)", result.frames)),
              ui.lines.end());
}

TEST(JobContract, DestroyWhileTheWorkerWaitsForTheInterfaceThread) {
    Fixture f("contract-destroy-wait");
    InterfaceThreadObserver ui;
    {
        auto job = std::make_unique<EncodeJob>();
        std::string error;
        ASSERT_TRUE(job->Start(f.Config(true), ui, &error)) << error;
        ASSERT_TRUE(ui.HandleOne());
        job.reset();  // the worker is blocked in its second report
    }
    ui.HandleQueued();
    EXPECT_TRUE(ui.finished);
    EXPECT_EQ(ui.status, JobStatus::kStopped);
}

TEST(JobContract, StopFromInsideAReportAndFromAnotherThread) {
    Fixture f("contract-stop-threads");
    // A stop made while handling a report, on the interface thread, with the worker waiting.
    {
        InterfaceThreadObserver ui;
        EncodeJob job;
        std::string error;
        ASSERT_TRUE(job.Start(f.Config(false), ui, &error)) << error;
        ASSERT_TRUE(ui.HandleOne());
        job.Stop();
        job.Stop();  // a second stop is harmless
        ui.HandleQueued();
        job.Wait();
        ui.HandleQueued();
        EXPECT_EQ(ui.status, JobStatus::kStopped);
    }
    // A stop racing the reports from a third thread, while the interface thread keeps handling.
    {
        InterfaceThreadObserver ui;
        EncodeJob job;
        std::string error;
        ASSERT_TRUE(job.Start(f.Config(true), ui, &error)) << error;
        std::thread stopper([&] { job.Stop(); });
        while (!ui.finished) ASSERT_TRUE(ui.HandleOne());
        stopper.join();
        job.Wait();
        // The stop may come after the last frame: then the run completed.
        EXPECT_TRUE(ui.status == JobStatus::kStopped || ui.status == JobStatus::kCompleted);
    }
}

TEST(JobContract, DestroyingRunningJobsOfEveryKind) {
    Fixture f("contract-destroy-all", 30);
    for (int round = 0; round < 3; ++round) {
        Collector encodeReports;
        {
            EncodeJob job;
            std::string error;
            ASSERT_TRUE(job.Start(f.Config(true), encodeReports, &error)) << error;
        }
        EXPECT_NE(encodeReports.finishedStatus, JobStatus::kFailed);

        Collector compareReports;
        {
            CompareJob job;
            ASSERT_TRUE(job.Start(f.input, f.input, compareReports));
        }
        EXPECT_NE(compareReports.finishedStatus, JobStatus::kFailed);
    }
    // A decode of the stream written above.
    Collector encodeReports;
    EncodeJob encode;
    std::string error;
    ASSERT_TRUE(encode.Start(f.Config(false), encodeReports, &error)) << error;
    ASSERT_TRUE(encode.Wait().completed);
    for (int round = 0; round < 3; ++round) {
        VideoFile stream;
        ASSERT_TRUE(stream.Open(f.dir + "/out.263"));
        Collector decodeReports;
        {
            DecodeJob job;
            DecodeJobConfig config;
            config.input = &stream;
            config.outputPath = f.dir + "/out.qcif";
            config.settings = LoadSettings({});
            ASSERT_TRUE(job.Start(config, decodeReports));
        }
        EXPECT_NE(decodeReports.finishedStatus, JobStatus::kFailed);
    }
}

TEST(JobContract, PictureReportsMatchTheLogAndTheStream) {
    Fixture f("contract-pictures", 8);
    Collector reports;
    EncodeJob job;
    std::string error;
    ASSERT_TRUE(job.Start(f.Config(true), reports, &error)) << error;
    const JobResult& result = job.Wait();
    EXPECT_EQ(result.status, JobStatus::kCompleted);
    EXPECT_TRUE(result.reason.empty());
    ASSERT_EQ(reports.pictures.size(), 8u);
    static const std::regex frameLine(
        R"(^-> Frame (\d+) \((\d+) bytes\), SNR_Y = ([\d.]+), SNR_U = ([\d.]+), SNR_V = ([\d.]+)$)");
    std::vector<std::smatch> matches;
    size_t k = 0;
    uint64_t total = 0;
    for (const auto& line : reports.lines) {
        std::smatch m;
        if (!std::regex_match(line, m, frameLine)) continue;
        ASSERT_LT(k, reports.pictures.size());
        const PictureReport& p = reports.pictures[k++];
        EXPECT_EQ(std::to_string(p.frame), m[1].str());
        EXPECT_EQ(std::to_string(p.bytes), m[2].str());
        EXPECT_TRUE(p.snrMeasured);
        EXPECT_EQ(Format("%0.2f", p.snrY), m[3].str());
        EXPECT_EQ(Format("%0.2f", p.snrU), m[4].str());
        EXPECT_EQ(Format("%0.2f", p.snrV), m[5].str());
        EXPECT_EQ(p.type, p.frame == 0 ? 'I' : 'P');
        total += p.bytes;
    }
    EXPECT_EQ(k, 8u);
    EXPECT_EQ(total, result.outputBytes);

    // With B-pictures (no SNR lines): every frame once, in coding order, and the bytes add up.
    Collector bReports;
    EncodeJob bJob;
    ASSERT_TRUE(bJob.Start(f.Config(false, true), bReports, &error)) << error;
    const JobResult& bResult = bJob.Wait();
    ASSERT_TRUE(bResult.completed);
    std::vector<int> frames;
    uint64_t bTotal = 0;
    int bCount = 0;
    for (const auto& p : bReports.pictures) {
        frames.push_back(p.frame);
        bTotal += p.bytes;
        bCount += p.type == 'B';
        EXPECT_FALSE(p.snrMeasured);
    }
    EXPECT_GT(bCount, 0);
    EXPECT_EQ(bReports.pictures.front().type, 'I');
    std::sort(frames.begin(), frames.end());
    std::vector<int> expected(8);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(bTotal, bResult.outputBytes);
}

TEST(JobContract, ComparisonReportsMatchTheLog) {
    Fixture f("contract-compare-reports", 6);
    // The second sequence differs from the first in frames 2 and up.
    std::vector<uint8_t> bytes(static_cast<size_t>(f.input.frameBytes()) * 6);
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(f.input.ReadFrame(i, bytes.data() + i * f.input.frameBytes()));
    for (size_t k = 2 * static_cast<size_t>(f.input.frameBytes()); k < bytes.size(); k += 7) bytes[k] ^= 0x10;
    ASSERT_TRUE(testsupport::WriteFile(f.dir + "/other.qcif", bytes));
    VideoFile other;
    ASSERT_TRUE(other.Open(f.dir + "/other.qcif"));
    Collector reports;
    CompareJob job;
    ASSERT_TRUE(job.Start(f.input, other, reports));
    ASSERT_TRUE(job.Wait().completed);
    ASSERT_EQ(reports.compared.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        const FrameComparison& c = reports.compared[static_cast<size_t>(i)];
        EXPECT_EQ(c.frame, i);
        if (i < 2) {
            EXPECT_EQ(c.snrY, 1000.0);
            EXPECT_EQ(reports.lines[static_cast<size_t>(i + 1)],
                      Format("-> Frame %d: identical (SNR_Y = SNR_U = SNR_V = 1000.00)", i));
        } else {
            EXPECT_LT(c.snrY, 100.0);
            EXPECT_EQ(reports.lines[static_cast<size_t>(i + 1)],
                      Format("-> Frame %d: SNR_Y = %0.2f, SNR_U = %0.2f, SNR_V = %0.2f", i, c.snrY, c.snrU,
                             c.snrV));
        }
    }
}

TEST(JobContract, ReportHandoffAbandonsAndResets) {
    ReportHandoff handoff;
    const uint64_t first = handoff.Begin();
    handoff.Done(first);
    EXPECT_TRUE(handoff.Await(first));
    const uint64_t second = handoff.Begin();
    std::thread abandon([&] { handoff.Abandon(); });
    EXPECT_FALSE(handoff.Await(second));
    abandon.join();
    EXPECT_TRUE(handoff.Abandoned());
    handoff.Reset();
    EXPECT_FALSE(handoff.Abandoned());
    handoff.Done(second);
    EXPECT_TRUE(handoff.Await(second));
    EXPECT_STREQ(JobStatusName(JobStatus::kStopped), "stopped");
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

TEST(JobData, TruncatedInputEndsTheRunAndTheOldOutputStaysUntilTheEnd) {
    Fixture f("data-truncated", 10);
    const std::vector<uint8_t> old = {9, 9, 9};
    testsupport::WriteFile(f.dir + "/out.263", old);
    Collector reports;
    bool oldIntactDuringRun = false;
    struct Cutter : Collector {
        std::function<void(const std::string&)> hook;
        void Log(const std::string& line) override {
            Collector::Log(line);
            if (hook) hook(line);
        }
    } cutter;
    cutter.hook = [&](const std::string& line) {
        if (line.rfind("-> Frame 2 ", 0) == 0) {
            // A killed process at this moment would leave the earlier file as it was.
            oldIntactDuringRun = testsupport::ReadFile(f.dir + "/out.263") == old;
            EXPECT_EQ(truncate((f.dir + "/seq.qcif").c_str(), 4 * 38016), 0);
        }
    };
    EncodeJob job;
    std::string error;
    ASSERT_TRUE(job.Start(f.Config(true), cutter, &error)) << error;
    const JobResult& result = job.Wait();
    EXPECT_TRUE(oldIntactDuringRun);
    EXPECT_EQ(result.status, JobStatus::kFailed);
    EXPECT_EQ(result.reason.rfind("Error reading frame 4 of " + f.dir + "/seq.qcif", 0), 0u) << result.reason;
    EXPECT_EQ(result.frames, 4);
    EXPECT_NE(
        std::find(cutter.lines.begin(), cutter.lines.end(), "-> Encoding terminated (4 frames encoded)"),
        cutter.lines.end());
    // What was coded is kept in place of the old file.
    EXPECT_EQ(testsupport::ReadFile(f.dir + "/out.263").size(), result.outputBytes);
    EXPECT_GT(result.outputBytes, 3u);
}

// With one coding thread the frames are coded in place from a mapping of the file. Cut at any
// moment of the run, the file ends it with the read error of the frame whose turn it was or of
// the frame being coded from it, which is not written; what was coded before is kept.
TEST(JobData, InputCutAtAnyMomentOfAOneThreadRunEndsItCleanly) {
    for (int delay : {0, 300, 1000, 3000, 10000}) {
        Fixture f("data-cut-" + std::to_string(delay), 150);
        EncodeJobConfig config = f.Config(false);
        config.settings.coder.Threads = 1;
        Collector reports;
        EncodeJob job;
        std::string error;
        ASSERT_TRUE(job.Start(config, reports, &error)) << error;
        // The cut lands anywhere in the run, depending on the delay and the machine.
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ASSERT_EQ(truncate((f.dir + "/seq.qcif").c_str(), 40 * 38016 + 38016 / 2), 0);
        const JobResult& result = job.Wait();
        EXPECT_EQ(testsupport::ReadFile(f.dir + "/out.263").size(), result.outputBytes);
        if (result.status == JobStatus::kCompleted) {
            EXPECT_EQ(result.frames, 150);  // done before the cut
            continue;
        }
        ASSERT_EQ(result.status, JobStatus::kFailed);
        EXPECT_GE(result.frames, 40) << "frames before the cut are whole";
        EXPECT_EQ(result.reason, "Error reading frame " + std::to_string(result.frames) + " of " + f.dir +
                                     "/seq.qcif: the file is shorter than when opened");
    }
}

TEST(JobData, StopKeepsWhatWasWrittenUnderTheTargetName) {
    Fixture f("data-stop", 10);
    struct Stopper : Collector {
        Job* job = nullptr;
        void Picture(const PictureReport& p) override {
            Collector::Picture(p);
            if (p.frame == 1) job->Stop();
        }
    } stopper;
    EncodeJob job;
    stopper.job = &job;
    std::string error;
    ASSERT_TRUE(job.Start(f.Config(false), stopper, &error)) << error;
    const JobResult& result = job.Wait();
    EXPECT_EQ(result.status, JobStatus::kStopped);
    EXPECT_EQ(result.frames, 2);
    EXPECT_EQ(testsupport::ReadFile(f.dir + "/out.263").size(), result.outputBytes);
    EXPECT_TRUE(CreatedByThisProcess(f.dir + "/out.263"));
}

}  // namespace
}  // namespace tessaro
