// The test pattern as a source, the FOURCC helpers, and the capture commands of tessaro-cli.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ClrConv.h"
#include "TestPatternSource.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

TEST(Fourcc, TextAndParsing) {
    EXPECT_EQ(FourccText(kFourccI420), "I420");
    EXPECT_EQ(FourccText(kFourccRGB24), "RGB24");
    EXPECT_EQ(FourccText(0x01020304), "????");
    EXPECT_EQ(ParseFourcc("yuy2"), kFourccYUY2);
    EXPECT_EQ(ParseFourcc("rgb24"), kFourccRGB24);
    EXPECT_EQ(ParseFourcc("MJPG"), MakeFourcc('M', 'J', 'P', 'G'));
    EXPECT_EQ(ParseFourcc("YUV"), 0u);
    EXPECT_EQ(ParseFourcc(""), 0u);
    EXPECT_EQ(FrameBytesOf(kFourccI420, 176, 144), 38016u);
    EXPECT_EQ(FrameBytesOf(kFourccYUY2, 176, 144), 176u * 144 * 2);
    EXPECT_EQ(FrameBytesOf(kFourccRGB24, 4, 2), 24u);
    EXPECT_EQ(FrameBytesOf(MakeFourcc('M', 'J', 'P', 'G'), 176, 144), 0u);
    EXPECT_EQ(FrameBytesOf(kFourccI420, 0, 144), 0u);
}

TEST(TestPattern, OffersEveryFormatAndChecksSizes) {
    TestPatternSource source;
    const std::vector<SourceFormat> formats = source.Formats();
    ASSERT_EQ(formats.size(), 5u);
    EXPECT_EQ(formats[4].fourcc, kFourccRGB24);
    EXPECT_TRUE(formats[0].customSizes);
    std::string error;
    EXPECT_TRUE(source.SetFormat(kFourccUYVY, 320, 240, &error));
    EXPECT_EQ(source.fourcc(), kFourccUYVY);
    EXPECT_FALSE(source.SetFormat(kFourccI420, 175, 144, &error));
    EXPECT_FALSE(source.SetFormat(kFourccI420, 4096, 144, &error));
    EXPECT_FALSE(source.SetFormat(MakeFourcc('M', 'J', 'P', 'G'), 176, 144, &error));
    EXPECT_EQ(source.width(), 320);  // refusals keep the format
}

TEST(TestPattern, FormatsCarryTheSamePictureAndItMoves) {
    const int w = 176, h = 144;
    std::vector<uint8_t> planar(38016), other(38016), packed(w * h * 2), next(38016);
    TestPatternSource::Render(kFourccI420, w, h, 12, planar.data());
    TestPatternSource::Render(kFourccI420, w, h, 13, next.data());
    EXPECT_NE(planar, next);
    std::vector<uint8_t> again(38016);
    TestPatternSource::Render(kFourccI420, w, h, 12, again.data());
    EXPECT_EQ(planar, again);

    TestPatternSource::Render(kFourccYUY2, w, h, 12, packed.data());
    clrconv::ConvertYuy2ToI420(packed.data(), other.data(), w, h, w * h, 0);
    EXPECT_EQ(other, planar);
    TestPatternSource::Render(kFourccUYVY, w, h, 12, packed.data());
    clrconv::ConvertUyvyToI420(packed.data(), other.data(), w, h, w * h, 0);
    EXPECT_EQ(other, planar);
    TestPatternSource::Render(kFourccYV12, w, h, 12, other.data());
    EXPECT_TRUE(std::equal(other.begin(), other.begin() + w * h, planar.begin()));
    EXPECT_TRUE(
        std::equal(other.begin() + w * h, other.begin() + w * h + 6336, planar.begin() + w * h + 6336));
}

TEST(TestPattern, StreamsNumberedFramesAndFailsOnRequest) {
    TestPatternSource source;
    source.SetFramePeriod(1000);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint64_t> sequences;
    std::vector<std::string> errors;
    bool capturingAtError = false;
    source.SetFrameCallback([&](const CapturedFrame& f) {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(f.size, 38016u);
        sequences.push_back(f.sequence);
        changed.notify_all();
    });
    source.SetErrorCallback([&](int code, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        capturingAtError = source.Capturing();
        errors.push_back(std::to_string(code) + " " + text);
        changed.notify_all();
    });
    source.FailAfter(4, EIO, "gone");
    std::string error;
    ASSERT_TRUE(source.Start(&error));
    EXPECT_FALSE(source.Start(&error));  // already capturing
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return !errors.empty(); }));
    }
    source.Stop();
    EXPECT_EQ(sequences, (std::vector<uint64_t>{0, 1, 2, 3}));
    EXPECT_EQ(errors, std::vector<std::string>{std::to_string(EIO) + " gone"});
    EXPECT_TRUE(capturingAtError);
    EXPECT_FALSE(source.Capturing());

    // Restarts from frame 0; a new period applies while streaming.
    sequences.clear();
    ASSERT_TRUE(source.Start(&error));
    source.SetFramePeriod(0);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return sequences.size() >= 20; }));
    }
    source.Stop();
    EXPECT_EQ(sequences[0], 0u);
    EXPECT_EQ(sequences[19], 19u);
    EXPECT_EQ(source.FramePeriod(), 0);
}

// ---- tessaro-cli ---------------------------------------------------------------------------

struct CliRun {
    int status;
    std::string out;
};

CliRun Cli(const std::string& dir, const std::string& args) {
    CliRun run;
    run.status = testsupport::RunCommand("cd " + dir + " && XDG_CONFIG_HOME=" + dir + " " +
                                             testsupport::BinDir() + "/tessaro-cli " + args + " 2>&1",
                                         &run.out);
    return run;
}

TEST(CaptureCli, SourcesListsTheTestPatternWithItsFormats) {
    const std::string dir = testsupport::MakeTempDir("cli-sources");
    const CliRun run = Cli(dir, "sources");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Test Pattern\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  YUY2  128x96 176x144 352x288"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("RGB24"), std::string::npos);
    EXPECT_NE(run.out.find("[not accepted for capture]"), std::string::npos);
}

TEST(CaptureCli, RawAndEncodedCaptures) {
    const std::string dir = testsupport::MakeTempDir("cli-capture");
    CliRun run =
        Cli(dir, "capture --source 'Test Pattern' --format YUY2 --size 176x144 --frames 3 -o take.qcif");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("-> Video capture completed: captured 3 frames"), std::string::npos) << run.out;
    EXPECT_EQ(testsupport::ReadFile(dir + "/take.qcif").size(), 3u * 38016);

    run = Cli(dir, "capture --encode --frames 6 --set Coder/FrameRateActual=2 -o take.263");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("-> Video capture and encoding started: 6 frames at 30.0 fps..."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("-> Capture and encoding completed (3 frames encoded)"), std::string::npos)
        << run.out;
    // The project's decoder reads it back.
    run = Cli(dir, "decode take.263 -o back.qcif");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(testsupport::ReadFile(dir + "/back.qcif").size(), 3u * 38016);
}

TEST(CaptureCli, RefusalsAndBadOptions) {
    const std::string dir = testsupport::MakeTempDir("cli-refusals");
    CliRun run = Cli(dir, "capture --format RGB24 --frames 2 -o rgb.qcif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(
                  "Please select one of the following formats in Video Format\n dialog (YUV12 is preferred)"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(testsupport::ReadFile(dir + "/rgb.qcif").empty());
    run = Cli(dir, "capture --source 'No Such Camera' -o x.qcif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("No video source named No Such Camera"), std::string::npos) << run.out;
    run = Cli(dir, "capture --size 12by4 -o x.qcif");
    EXPECT_EQ(run.status, 2) << run.out;
    run = Cli(dir, "capture --format NOPE1 -o x.qcif");
    EXPECT_EQ(run.status, 2) << run.out;
    run = Cli(dir, "capture --frames 2 -o /dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Error Writing Capture File /dev/full"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tessaro
