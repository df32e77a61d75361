// The capture job with the test pattern: raw files of every accepted format, the refusal,
// capture and encoding (its end, frame step, stop, decodability), and the failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>

#include "CaptureJob.h"
#include "CaptureTestSupport.h"
#include "R263IRI.h"
#include "TestPatternSource.h"
#include "TestSupport.h"
#include "VideoFile.h"

namespace tessaro {
namespace {

using capturetest::CaptureSettings;
using capturetest::Recorder;

// A capture job on a test pattern of `fourcc` and size that delivers frames as fast as it can.
std::unique_ptr<CaptureJob> PatternJob(uint32_t fourcc, int width = 176, int height = 144,
                                       TestPatternSource** pattern = nullptr) {
    auto source = std::make_unique<TestPatternSource>();
    std::string error;
    EXPECT_TRUE(source->SetFormat(fourcc, width, height, &error)) << error;
    source->SetFramePeriod(0);
    if (pattern) *pattern = source.get();
    return std::make_unique<CaptureJob>(std::move(source));
}

// Raw capture of `frames` frames; returns the file's bytes.
std::vector<uint8_t> CaptureRaw(uint32_t fourcc, const std::string& path, int frames) {
    auto job = PatternJob(fourcc);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = path;
    config.settings = CaptureSettings(999);
    config.frameLimit = frames;
    std::string error;
    EXPECT_TRUE(job->Start(config, recorder, &error)) << error;
    const JobResult& result = job->Wait();
    EXPECT_EQ(result.status, JobStatus::kCompleted) << result.reason;
    EXPECT_EQ(result.frames, frames);
    return testsupport::ReadFile(path);
}

std::vector<uint8_t> PatternI420(int frames, int width = 176, int height = 144) {
    const size_t bytes = FrameBytesOf(kFourccI420, width, height);
    std::vector<uint8_t> all(bytes * frames);
    for (int k = 0; k < frames; ++k)
        TestPatternSource::Render(kFourccI420, width, height, k, all.data() + k * bytes);
    return all;
}

TEST(CaptureRaw, Yuy2AtQcifGivesWholeQcifFramesThatOpen) {
    const std::string dir = testsupport::MakeTempDir("capture-yuy2");
    const std::string path = dir + "/live.qcif";
    const std::vector<uint8_t> bytes = CaptureRaw(kFourccYUY2, path, 7);
    EXPECT_EQ(bytes.size(), 38016u * 7);
    // The pattern's 4:2:2 frames unpack to exactly its 4:2:0 frames.
    EXPECT_EQ(bytes, PatternI420(7));
    VideoFile file;
    ASSERT_TRUE(file.Open(path)) << file.Error();
    EXPECT_EQ(file.format(), kQcif);
    EXPECT_EQ(file.frameCount(), 7);
}

TEST(CaptureRaw, Yv12IsReorderedAndMatchesI420AndUyvy) {
    const std::string dir = testsupport::MakeTempDir("capture-planar");
    const std::vector<uint8_t> i420 = CaptureRaw(kFourccI420, dir + "/a.qcif", 5);
    const std::vector<uint8_t> yv12 = CaptureRaw(kFourccYV12, dir + "/b.qcif", 5);
    const std::vector<uint8_t> uyvy = CaptureRaw(kFourccUYVY, dir + "/c.qcif", 5);
    EXPECT_EQ(i420, PatternI420(5));
    EXPECT_EQ(yv12, i420);
    EXPECT_EQ(uyvy, i420);
}

TEST(CaptureRaw, RefusedFormatWritesNothing) {
    const std::string dir = testsupport::MakeTempDir("capture-rgb");
    const std::string path = dir + "/old.qcif";
    ASSERT_TRUE(testsupport::WriteFile(path, std::vector<uint8_t>(10, 7)));
    auto job = PatternJob(kFourccRGB24);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = path;
    config.settings = CaptureSettings(99);
    std::string error;
    EXPECT_FALSE(job->Start(config, recorder, &error));
    EXPECT_EQ(error, kCaptureFormatRefusal);
    EXPECT_TRUE(recorder.lines.empty());
    EXPECT_FALSE(job->Capturing());
    EXPECT_EQ(testsupport::ReadFile(path), std::vector<uint8_t>(10, 7));
    config.encode = true;
    EXPECT_FALSE(job->Start(config, recorder, &error));
    EXPECT_EQ(error, kCaptureFormatRefusal);
    // No temporary file is left either.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) entries += entry.is_regular_file();
    EXPECT_EQ(entries, 1u);
}

TEST(CaptureRaw, ExistingFileStaysIntactUntilReplaced) {
    const std::string dir = testsupport::MakeTempDir("capture-replace");
    const std::string path = dir + "/take.qcif";
    const std::vector<uint8_t> old(38016, 9);
    ASSERT_TRUE(testsupport::WriteFile(path, old));
    auto job = PatternJob(kFourccI420);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = path;
    config.settings = CaptureSettings(999);
    bool intactDuringRun = false;
    job->SetFrameListener([&](uint64_t serial) {
        if (serial == 3) intactDuringRun = testsupport::ReadFile(path) == old;
    });
    config.frameLimit = 6;
    std::string error;
    ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
    job->Wait();
    EXPECT_TRUE(intactDuringRun);
    EXPECT_EQ(testsupport::ReadFile(path), PatternI420(6));
}

TEST(CaptureRaw, NeverWritesOverAnInput) {
    const std::string dir = testsupport::MakeTempDir("capture-input");
    const std::string path = dir + "/input.qcif";
    ASSERT_TRUE(testsupport::WriteFile(path, std::vector<uint8_t>(38016, 1)));
    auto job = PatternJob(kFourccI420);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = dir + "/./input.qcif";
    config.protectedPaths = {path};
    config.settings = CaptureSettings(999);
    std::string error;
    EXPECT_FALSE(job->Start(config, recorder, &error));
    EXPECT_EQ(error.rfind("Error Opening Capture File " + config.outputPath, 0), 0u) << error;
    EXPECT_EQ(testsupport::ReadFile(path), std::vector<uint8_t>(38016, 1));
}

TEST(CaptureRaw, StopCaptureEndsAtOnceAndKeepsEveryFrame) {
    const std::string dir = testsupport::MakeTempDir("capture-stop");
    const std::string path = dir + "/take.qcif";
    auto job = PatternJob(kFourccYUY2);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = path;
    config.settings = CaptureSettings(999);
    job->SetFrameListener([&](uint64_t serial) {
        if (serial == 4) job->StopCapture();
    });
    std::string error;
    ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
    const JobResult& result = job->Wait();
    EXPECT_EQ(result.status, JobStatus::kCompleted);
    EXPECT_GE(result.frames, 3);
    EXPECT_EQ(testsupport::ReadFile(path).size(), 38016u * result.frames);
    EXPECT_EQ(recorder.lines.front(), "-> Video capture started: raw YUV12 video stream at 30.0 fps...");
    EXPECT_EQ(recorder.lines[1], Format("-> Video capture completed: captured %d frames", result.frames));
    EXPECT_EQ(recorder.lines.back(), "");
    EXPECT_FALSE(job->Capturing());
}

TEST(CaptureRaw, FullDeviceStopsWithAMessage) {
    struct stat st {};
    if (stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
    auto job = PatternJob(kFourccI420);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = "/dev/full";
    config.settings = CaptureSettings(999);
    std::string error;
    ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
    const JobResult& result = job->Wait();
    EXPECT_EQ(result.status, JobStatus::kFailed);
    EXPECT_EQ(job->LastEnd(), CaptureJob::End::kWriteFailed);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0],
              "Error Writing Capture File /dev/full: " + std::string(std::strerror(ENOSPC)));
    EXPECT_EQ(recorder.lines[1], "-> Video capture terminated: captured 0 frames");
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));  // the device node is still the device
}

TEST(CaptureRaw, SourceFailureIsADriverWarningAndTheJobStaysUsable) {
    const std::string dir = testsupport::MakeTempDir("capture-fail");
    TestPatternSource* pattern = nullptr;
    auto job = PatternJob(kFourccI420, 176, 144, &pattern);
    pattern->FailAfter(5, EIO, "The camera went away");
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = dir + "/take.qcif";
    config.settings = CaptureSettings(999);
    std::string error;
    ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
    const JobResult& result = job->Wait();
    EXPECT_EQ(result.status, JobStatus::kFailed);
    EXPECT_EQ(result.reason, "The camera went away");
    ASSERT_EQ(recorder.warnings.size(), 1u);
    EXPECT_EQ(recorder.warnings[0], std::to_string(EIO) + " The camera went away");
    // The frames before the failure are kept.
    EXPECT_EQ(testsupport::ReadFile(config.outputPath), PatternI420(5));
    EXPECT_FALSE(job->Capturing());

    // The next run works.
    Recorder again;
    config.outputPath = dir + "/again.qcif";
    config.frameLimit = 2;
    ASSERT_TRUE(job->Start(config, again, &error)) << error;
    EXPECT_EQ(job->Wait().status, JobStatus::kCompleted);
    EXPECT_TRUE(again.warnings.empty());
}

TEST(CapturePreview, LatestFrameFollowsTheSourceWithoutCapturing) {
    auto job = PatternJob(kFourccUYVY);
    std::mutex mutex;
    std::condition_variable seen;
    uint64_t last = 0;
    job->SetFrameListener([&](uint64_t serial) {
        std::lock_guard<std::mutex> lock(mutex);
        last = serial;
        seen.notify_all();
    });
    std::string error;
    ASSERT_TRUE(job->StartPreview(&error)) << error;
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(seen.wait_for(lock, std::chrono::seconds(10), [&] { return last >= 1; }));
    }
    job->StopPreview();
    std::vector<uint8_t> frame;
    int width = 0, height = 0;
    const uint64_t serial = job->LatestFrame(0, &frame, &width, &height);
    ASSERT_GE(serial, 1u);
    EXPECT_EQ(width, 176);
    EXPECT_EQ(height, 144);
    std::vector<uint8_t> expected(38016);
    TestPatternSource::Render(kFourccI420, 176, 144, serial - 1, expected.data());
    EXPECT_EQ(frame, expected);
    // Unchanged since `serial`: the buffer is left alone.
    std::vector<uint8_t> untouched;
    EXPECT_EQ(job->LatestFrame(serial, &untouched, &width, &height), serial);
    EXPECT_TRUE(untouched.empty());
    EXPECT_FALSE(job->Capturing());
    EXPECT_EQ(job->FrameCounter(), 0);
}

// ---- Capture and encoding ------------------------------------------------------------------

struct EncodedRun {
    JobResult result;
    std::vector<std::string> lines;
    std::vector<int> pictures;
    std::vector<uint8_t> bitstream;
};

EncodedRun CaptureEncoded(const std::string& path, int endFrame, int frameRateActual,
                          const std::function<void(CaptureJob&, Recorder&)>& arrange = {}) {
    auto job = PatternJob(kFourccYUY2);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = path;
    config.encode = true;
    config.settings = CaptureSettings(endFrame, frameRateActual);
    if (arrange) arrange(*job, recorder);
    std::string error;
    EncodedRun run;
    EXPECT_TRUE(job->Start(config, recorder, &error)) << error;
    run.result = job->Wait();
    run.lines = recorder.Lines();
    run.pictures = recorder.pictures;
    run.bitstream = testsupport::ReadFile(path);
    return run;
}

// Decodes a whole stream with the project's decoder; the pictures in display order.
std::vector<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> pictures;
    r263iri::Decoder* decoder = r263iri::DecoderCreate();
    r263iri::DecoderOpen(*decoder);
    uint32_t position = 0, pictureBytes = 0;
    int first = 1;
    while (position < stream.size()) {
        const uint8_t* p =
            r263iri::DecodePicture(*decoder, stream.data(), stream.size(), &position, &pictureBytes, first);
        first = 0;
        if (p) pictures.emplace_back(p, p + pictureBytes);
        if (r263iri::DecoderGetInfo(*decoder).lastStatus == r263iri::DecodeStatus::kNoPicture) break;
    }
    if (const uint8_t* p = r263iri::DecoderFlush(*decoder)) pictures.emplace_back(p, p + pictureBytes);
    r263iri::DecoderClose(*decoder);
    r263iri::DecoderDestroy(decoder);
    return pictures;
}

TEST(CaptureEncoding, EndFrame99EndsByItselfWithTheCompletionLines) {
    const std::string dir = testsupport::MakeTempDir("capture-end99");
    const std::string path = dir + "/live.263";
    const EncodedRun run = CaptureEncoded(path, 99, 1);
    EXPECT_EQ(run.result.status, JobStatus::kCompleted) << run.result.reason;
    EXPECT_EQ(run.result.frames, 100);
    ASSERT_EQ(run.pictures.size(), 100u);
    EXPECT_EQ(run.pictures.back(), 99);
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[0], "-> Video capture and encoding started: 100 frames at 30.0 fps...");
    EXPECT_EQ(run.lines[1], "-> Capture and encoding completed (100 frames encoded)");
    EXPECT_EQ(run.lines[2], Format("-> Output file %s (%zu bytes)", path.c_str(), run.bitstream.size()));
    const double actual = static_cast<double>(run.bitstream.size() * 8 / 1000) * 30.0 / 100;
    EXPECT_EQ(run.lines[3], Format("-> Target bitrate: 64.0 Kbps, actual bitrate: %0.1f Kbps", actual));
    EXPECT_EQ(run.lines[4], "");

    // The stream decodes to 100 pictures close to the captured pattern.
    const std::vector<std::vector<uint8_t>> decoded = Decode(run.bitstream);
    ASSERT_EQ(decoded.size(), 100u);
    const std::vector<uint8_t> source = PatternI420(100);
    for (int k : {0, 50, 99}) {
        EXPECT_GT(testsupport::PlanePsnr(decoded[k].data(), source.data() + k * 38016, 176 * 144), 28.0) << k;
    }
}

// Capture and encoding takes Coder/Threads: the stream of two threads is the stream of one.
TEST(CaptureEncoding, ThreadsGiveTheBytesOfOneThread) {
    const std::string dir = testsupport::MakeTempDir("capture-threads");
    std::vector<uint8_t> streams[2];
    for (int threads : {1, 2}) {
        auto job = PatternJob(kFourccYUY2, 352, 288);
        Recorder recorder;
        CaptureConfig config;
        config.outputPath = dir + "/live" + std::to_string(threads) + ".263";
        config.encode = true;
        config.settings = CaptureSettings(11);
        config.settings.coder.UseDeblockFilter = 1;
        config.settings.coder.Threads = threads;
        std::string error;
        ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
        EXPECT_EQ(job->Wait().status, JobStatus::kCompleted);
        streams[threads - 1] = testsupport::ReadFile(config.outputPath);
    }
    ASSERT_FALSE(streams[0].empty());
    EXPECT_TRUE(streams[0] == streams[1]);
}

TEST(CaptureEncoding, FrameRateActual3CodesEveryThirdFrame) {
    const std::string dir = testsupport::MakeTempDir("capture-step3");
    const EncodedRun run = CaptureEncoded(dir + "/live.263", 9, 3);
    EXPECT_EQ(run.result.status, JobStatus::kCompleted);
    EXPECT_EQ(run.pictures, (std::vector<int>{0, 3, 6, 9}));
    std::vector<std::string> skipping;
    for (const std::string& line : run.lines) {
        if (line.rfind("-> Skipping frame", 0) == 0) skipping.push_back(line);
    }
    EXPECT_EQ(skipping, (std::vector<std::string>{"-> Skipping frame 1", "-> Skipping frame 2",
                                                  "-> Skipping frame 4", "-> Skipping frame 5",
                                                  "-> Skipping frame 7", "-> Skipping frame 8"}));
    EXPECT_EQ(run.result.frames, 4);
    EXPECT_EQ(Decode(run.bitstream).size(), 4u);
}

TEST(CaptureEncoding, StopEndsAtTheNextEncodedFrame) {
    const std::string dir = testsupport::MakeTempDir("capture-stopenc");
    const EncodedRun run = CaptureEncoded(dir + "/live.263", 999, 2, [](CaptureJob& job, Recorder& recorder) {
        // Stop Encoding while frame 5 is passed over: frame 6 is still encoded, then the run ends.
        recorder.onLine = [&job](const std::string& line) {
            if (line == "-> Skipping frame 5") job.Stop();
        };
    });
    EXPECT_EQ(run.pictures, (std::vector<int>{0, 2, 4, 6}));
    EXPECT_EQ(run.result.status, JobStatus::kStopped);
    EXPECT_EQ(run.result.frames, 4);
    EXPECT_EQ(Decode(run.bitstream).size(), 4u);
}

TEST(CaptureEncoding, BitstreamDecodesWithFfmpeg) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string dir = testsupport::MakeTempDir("capture-ffmpeg");
    const EncodedRun run = CaptureEncoded(dir + "/live.263", 19, 1);
    ASSERT_EQ(run.result.status, JobStatus::kCompleted);
    const std::string decoded = dir + "/ffmpeg.yuv";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -i " + dir +
                                      "/live.263 -f rawvideo -pix_fmt yuv420p " + decoded + " 2>&1"),
              0);
    const std::vector<uint8_t> theirs = testsupport::ReadFile(decoded);
    const std::vector<std::vector<uint8_t>> ours = Decode(run.bitstream);
    ASSERT_EQ(theirs.size(), 20u * 38016);
    ASSERT_EQ(ours.size(), 20u);
    // An independent decoder's inverse transform may round differently, so the pictures agree
    // closely rather than exactly; each is near the captured pattern.
    const std::vector<uint8_t> source = PatternI420(20);
    for (int k = 0; k < 20; ++k) {
        EXPECT_GT(testsupport::PlanePsnr(ours[k].data(), theirs.data() + k * 38016, 176 * 144), 40.0) << k;
        EXPECT_GT(testsupport::PlanePsnr(theirs.data() + k * 38016, source.data() + k * 38016, 176 * 144),
                  28.0)
            << k;
    }
}

TEST(CaptureEncoding, SnrLinesAndTheirAverage) {
    const std::string dir = testsupport::MakeTempDir("capture-snr");
    auto job = PatternJob(kFourccI420);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = dir + "/live.263";
    config.encode = true;
    config.settings = CaptureSettings(4);
    config.settings.general.ShowSNR = 1;
    config.settings.general.LogInfoCoder = 0;
    std::string error;
    ASSERT_TRUE(job->Start(config, recorder, &error)) << error;
    EXPECT_EQ(job->Wait().status, JobStatus::kCompleted);
    // Only the SNR lines: five frame lines and the average of their values.
    ASSERT_EQ(recorder.lines.size(), 6u);
    double sumY = 0.0;
    for (int n = 0; n < 5; ++n) {
        int frame = -1;
        unsigned bytes = 0;
        double y = 0, u = 0, v = 0;
        ASSERT_EQ(std::sscanf(recorder.lines[n].c_str(),
                              "-> Frame %d (%u bytes), SNR_Y = %lf, SNR_U = %lf, SNR_V = %lf", &frame, &bytes,
                              &y, &u, &v),
                  5)
            << recorder.lines[n];
        EXPECT_EQ(frame, n);
        EXPECT_GT(y, 28.0);
        sumY += y;
    }
    double averageY = 0;
    ASSERT_EQ(std::sscanf(recorder.lines[5].c_str(), "-> Average SNR: SNR_Y = %lf", &averageY), 1);
    EXPECT_NEAR(averageY, sumY / 5, 0.01);
}

TEST(CaptureEncoding, OutputThatCannotBeCreatedStartsNothing) {
    auto job = PatternJob(kFourccI420);
    Recorder recorder;
    CaptureConfig config;
    config.outputPath = "/nonexistent-folder/live.263";
    config.encode = true;
    config.settings = CaptureSettings(9);
    std::string error;
    EXPECT_FALSE(job->Start(config, recorder, &error));
    // With the system's reason after the path.
    EXPECT_EQ(error.rfind("Error Opening /nonexistent-folder/live.263: ", 0), 0u) << error;
    EXPECT_FALSE(job->Capturing());
    EXPECT_FALSE(job->source().Capturing());
    EXPECT_TRUE(recorder.lines.empty());
}

TEST(CapturePanes, TextsOfTheFourStatusPanes) {
    EXPECT_EQ(FormatPaneText(kFourccI420, 12), "I420");
    EXPECT_EQ(FormatPaneText(kFourccYV12, 12), "YV12");
    EXPECT_EQ(FormatPaneText(kFourccYUY2, 16), "YUY2");
    EXPECT_EQ(FormatPaneText(kFourccUYVY, 16), "Unknown");
    EXPECT_EQ(FormatPaneText(kFourccRGB24, 24), "RGB24");
    EXPECT_EQ(FormatPaneText(MakeFourcc('M', 'J', 'P', 'G'), 0), "Unknown");
    EXPECT_EQ(SizePaneText(176, 144), "176x144");
    // 176 x 144 x 12 x 30 / 1024 = 8910 Kbps: above 1024, so in Mbps.
    EXPECT_EQ(BitratePaneText(CaptureBitrateKbps(176, 144, 12, 30.0)), "8.7 Mbps");
    EXPECT_EQ(BitratePaneText(1023.9), "1023 Kbps");
    EXPECT_EQ(FramePaneText(0, 12.5), "12.5 fps");
    EXPECT_EQ(FramePaneText(37, 30.0), "37");
    EXPECT_EQ(FramePeriodOfRate(30.0), 33333);
    EXPECT_EQ(FramePeriodOfRate(8.3), 120481);
    EXPECT_EQ(PictureFormatOfSize(176, 144), kQcif);
    EXPECT_EQ(PictureFormatOfSize(1408, 1152), k16Cif);
    EXPECT_EQ(PictureFormatOfSize(320, 240), kCustom);
}

}  // namespace
}  // namespace tessaro
