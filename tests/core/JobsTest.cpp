// The jobs through their programming interface: report order, stopping part-way, parallel runs
// with separate codec contexts, and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <regex>

#include "CompareJob.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

// Records every report as text; `hook` runs on each event (on the worker thread).
class Recorder : public JobObserver {
  public:
    void Log(const std::string& line) override { Add("log " + line); }
    void Error(const std::string& message) override { Add("error " + message); }
    void ProgressStart(const std::string& label, int minimum, int maximum) override {
        Add("start " + label + " " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void ProgressPosition(int position) override { Add("pos " + std::to_string(position)); }
    void ProgressStop() override { Add("stop"); }
    void Finished(const JobResult&) override { Add("finished"); }

    std::vector<std::string> events;
    std::function<void(const std::string&)> hook;

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        for (const auto& e : events) {
            if (e.rfind("log ", 0) == 0) lines.push_back(e.substr(4));
        }
        return lines;
    }

  private:
    void Add(const std::string& event) {
        events.push_back(event);
        if (hook) hook(event);
    }
};

std::string WriteSequence(const std::string& dir, int frames) {
    SyntheticOptions o;
    o.frames = frames;
    const std::string path = dir + "/seq.qcif";
    testsupport::WriteFile(path, GenerateSyntheticSequence(o));
    return path;
}

// Default settings for `file` (as after opening it), with SNR lines on or off.
EncodeJobConfig EncodeConfig(const VideoFile& file, const std::string& outputPath, bool showSnr) {
    EncodeJobConfig config;
    config.input = &file;
    config.outputPath = outputPath;
    config.settings = LoadSettings({});
    config.settings.general.ShowSNR = showSnr ? 1 : 0;
    ReinitEncoderParams({}, file.frameCount(), file.format(), file.width(), file.height(), &config.settings);
    return config;
}

TEST(EncodeJobApi, ReportsInOrderAndStopsKeepingTheOutput) {
    const std::string dir = testsupport::MakeTempDir("jobs-encode-stop");
    VideoFile input;
    ASSERT_TRUE(input.Open(WriteSequence(dir, 10)));
    const EncodeJobConfig config = EncodeConfig(input, dir + "/out.263", true);

    EncodeJob job;
    Recorder recorder;
    recorder.hook = [&](const std::string& e) {
        if (e == "pos 3") job.Stop();  // the frame under way finishes; the next is not started
    };
    std::string error;
    ASSERT_TRUE(job.Start(config, recorder, &error)) << error;
    const JobResult& result = job.Wait();
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.frames, 4);

    ASSERT_GE(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events.front(), "start Encoding: 0 9");
    EXPECT_EQ(recorder.events[recorder.events.size() - 2], "stop");
    EXPECT_EQ(recorder.events.back(), "finished");
    const auto lines = recorder.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "-> Encoding terminated (4 frames encoded)"),
              lines.end());

    // Everything coded before the stop is in the file: the byte counts of the four frame lines.
    static const std::regex frameLine(R"(^-> Frame \d+ \((\d+) bytes\).*)");
    size_t reported = 0;
    int frameLines = 0;
    for (const auto& line : lines) {
        std::smatch m;
        if (std::regex_match(line, m, frameLine)) {
            reported += std::stoul(m[1]);
            ++frameLines;
        }
    }
    EXPECT_EQ(frameLines, 4);
    EXPECT_EQ(testsupport::ReadFile(config.outputPath).size(), reported);
    EXPECT_EQ(result.outputBytes, reported);

    // And it decodes to those four pictures.
    VideoFile stream;
    ASSERT_TRUE(stream.Open(config.outputPath));
    DecodeJobConfig decode;
    decode.input = &stream;
    decode.outputPath = dir + "/out.qcif";
    decode.settings = config.settings;
    DecodeJob decoder;
    Recorder decodeRecorder;
    ASSERT_TRUE(decoder.Start(decode, decodeRecorder));
    EXPECT_TRUE(decoder.Wait().completed);
    EXPECT_EQ(testsupport::ReadFile(decode.outputPath).size(), 4u * 38016);
}

// Encodes a synthetic QCIF sequence of `frames` frames with default settings into dir/s.263.
std::string EncodeStream(const std::string& dir, int frames) {
    VideoFile input;
    EXPECT_TRUE(input.Open(WriteSequence(dir, frames)));
    EncodeJob encoder;
    Recorder quiet;
    std::string error;
    EXPECT_TRUE(encoder.Start(EncodeConfig(input, dir + "/s.263", false), quiet, &error)) << error;
    EXPECT_TRUE(encoder.Wait().completed);
    return dir + "/s.263";
}

TEST(DecodeJobApi, StopPartWayEndsTerminatedWithPicturesKept) {
    const std::string dir = testsupport::MakeTempDir("jobs-decode-stop");
    VideoFile stream;
    ASSERT_TRUE(stream.Open(EncodeStream(dir, 6)));
    DecodeJobConfig decode;
    decode.input = &stream;
    decode.settings = LoadSettings({});
    DecodeJob job;
    Recorder recorder;
    int positions = 0;
    recorder.hook = [&](const std::string& e) {
        if (e.rfind("pos ", 0) == 0 && ++positions == 3) job.Stop();
    };
    ASSERT_TRUE(job.Start(decode, recorder));
    const JobResult& result = job.Wait();
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(recorder.events.front(), "start Decoding: 0 100");
    const auto lines = recorder.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("-> Decoding started: input file " + dir + "/s.263", 0), 0u);
    EXPECT_EQ(lines[1], "-> Decoding terminated !");
    // Three calls: two pictures came back (one call late), the flush adds the third.
    EXPECT_EQ(result.outputPath, dir + "/s_.qcif");
    EXPECT_EQ(testsupport::ReadFile(result.outputPath).size(), 3u * 38016);
}

TEST(DecodeJobApi, UncreatableOutputEndsTerminated) {
    const std::string dir = testsupport::MakeTempDir("jobs-decode-no-output");
    const std::string path = EncodeStream(dir, 3);
    for (int log : {1, 0}) {
        SCOPED_TRACE(log);
        VideoFile stream;
        ASSERT_TRUE(stream.Open(path));
        DecodeJobConfig decode;
        decode.input = &stream;
        decode.outputPath = dir + "/missing/out.qcif";
        decode.settings = LoadSettings({{"General/LogInfoCoder", std::to_string(log)}});
        DecodeJob job;
        Recorder recorder;
        ASSERT_TRUE(job.Start(decode, recorder));
        EXPECT_FALSE(job.Wait().completed);
        // The user is told about the file first; the log (when on) starts and ends as terminated.
        std::vector<std::string> expected = {"start Decoding: 0 100",
                                             "error Error Opening " + decode.outputPath +
                                                 ": No such file or directory"};
        if (log) {
            expected.push_back(Format("log -> Decoding started: input file %s (%zu bytes)...", path.c_str(),
                                      testsupport::ReadFile(path).size()));
            expected.push_back("log -> Decoding terminated !");
        }
        expected.push_back("stop");
        expected.push_back("finished");
        EXPECT_EQ(recorder.events, expected);
    }
}

TEST(EncodeJobApi, ParallelRunsUseTheirOwnEncoders) {
    const std::string dir = testsupport::MakeTempDir("jobs-parallel");
    VideoFile input;
    ASSERT_TRUE(input.Open(WriteSequence(dir, 6)));
    EncodeJob jobs[3];
    Recorder recorders[3];
    for (int i = 0; i < 3; ++i) {
        const EncodeJobConfig config = EncodeConfig(input, dir + "/out" + std::to_string(i) + ".263", i == 0);
        std::string error;
        ASSERT_TRUE(jobs[i].Start(config, recorders[i], &error)) << error;
    }
    for (auto& job : jobs) EXPECT_TRUE(job.Wait().completed);
    const auto reference = testsupport::ReadFile(dir + "/out0.263");
    EXPECT_FALSE(reference.empty());
    EXPECT_EQ(testsupport::ReadFile(dir + "/out1.263"), reference);
    EXPECT_EQ(testsupport::ReadFile(dir + "/out2.263"), reference);
}

TEST(JobApi, Refusals) {
    const std::string dir = testsupport::MakeTempDir("jobs-refusals");
    VideoFile qcif;
    ASSERT_TRUE(qcif.Open(WriteSequence(dir, 2)));
    const EncodeJobConfig config = EncodeConfig(qcif, dir + "/missing/out.263", false);
    EncodeJob encode;
    Recorder recorder;
    std::string error;
    EXPECT_FALSE(encode.Start(config, recorder, &error));
    EXPECT_EQ(error, "Error Opening " + dir + "/missing/out.263: No such file or directory");
    EXPECT_TRUE(recorder.events.empty());

    SyntheticOptions o;
    o.width = 352;
    o.height = 288;
    o.frames = 1;
    testsupport::WriteFile(dir + "/b.cif", GenerateSyntheticSequence(o));
    VideoFile cif;
    ASSERT_TRUE(cif.Open(dir + "/b.cif"));
    CompareJob compare;
    EXPECT_FALSE(compare.Start(qcif, cif, recorder));
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0], "error Can't compare video files of\ndifferent formats/frame sizes");

    DecodeJob decode;
    DecodeJobConfig notStream;
    notStream.input = &qcif;
    EXPECT_FALSE(decode.Start(notStream, recorder));
}

TEST(CompareJobApi, MeasureMatchesTheDocumentedValues) {
    // One chroma sample of a QCIF picture off by 16: MSE_U = 256 / 6336, 62.07 dB.
    std::vector<uint8_t> a(38016, 100), b(38016, 100);
    b[176 * 144 + 5] = 116;
    double y, u, v;
    MeasureFrameSnr(a.data(), b.data(), 176, 144, &y, &u, &v);
    EXPECT_EQ(y, 1000.0);
    EXPECT_EQ(Format("%0.2f", u), "62.07");
    EXPECT_EQ(v, 1000.0);
    // Every luma sample off by one: 48.13 dB.
    std::vector<uint8_t> c = a;
    for (int i = 0; i < 176 * 144; ++i) c[i] = 101;
    MeasureFrameSnr(a.data(), c.data(), 176, 144, &y, &u, &v);
    EXPECT_EQ(Format("%0.2f", y), "48.13");
    // The chroma mean is the quotient SSE / (N/4): for SSE 51 it differs in the last bit from
    // SSE x (1 / (N/4)), and so does the ratio.
    std::vector<uint8_t> d = a;
    d[176 * 144 + 7] = 107;
    d[176 * 144 + 9] = 101;
    d[176 * 144 + 11] = 99;
    MeasureFrameSnr(a.data(), d.data(), 176, 144, &y, &u, &v);
    volatile double sse = 51.0, quarter = 6336.0;  // computed at run time, as the job does
    EXPECT_EQ(u, 10.0 * std::log10(65025.0 / (sse / quarter)));
    EXPECT_NE(u, 10.0 * std::log10(65025.0 / (sse * (1.0 / quarter))));
    EXPECT_EQ(v, 1000.0);
}

}  // namespace
}  // namespace tessaro
