// Frames read ahead, on a thread of their own or in pieces by ReadStep from other threads, or
// served in place from a mapping of the file, equal the file's frames whatever the guess of the
// next frame and however many pieces the steps read, and a frame that is gone when its turn comes
// (or while it is read in place) is reported, not served stale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BusErrorGuard.h"
#include "EncodeJob.h"
#include "FrameReader.h"
#include "Settings.h"
#include "SyntheticSequence.h"
#include "TestSupport.h"
#include "VideoFile.h"

namespace tessaro {
namespace {

constexpr size_t kQcif = 38016;
// Pieces small enough that a QCIF frame has three, the last one short.
constexpr size_t kPiece = 16 << 10;

// A QCIF file of `frames` frames, each byte telling its frame and position apart.
std::string MakeSequence(const std::string& dir, int frames) {
    std::vector<uint8_t> bytes(kQcif * frames);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / kQcif);
    const std::string path = dir + "/seq.qcif";
    testsupport::WriteFile(path, bytes);
    return path;
}

bool SameAsFrame(const uint8_t* got, const std::vector<uint8_t>& all, int k) {
    return got != nullptr && std::equal(got, got + kQcif, all.begin() + static_cast<long>(k) * kQcif);
}

TEST(FrameReader, EveryOrderAndGuessGivesTheFilesFrames) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-order"), 12);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    for (bool ahead : {false, true}) {
        FrameReader reader(file, ahead);
        EXPECT_EQ(reader.readsAhead(), ahead);
        // In order with the right guess, with steps of two, guesses that miss, repeats, and
        // going back; the previous answer stays intact until the next call.
        const int calls[][2] = {{0, 1}, {1, 2}, {2, 4},  {4, 6},  {6, 7},  {9, 10},
                                {9, 3}, {3, 4}, {4, -1}, {5, 11}, {11, -1}};
        for (const auto& c : calls) {
            const uint8_t* got = reader.Read(c[0], c[1]);
            ASSERT_TRUE(SameAsFrame(got, all, c[0])) << "frame " << c[0] << " ahead " << ahead;
        }
        // Frames outside the file, also when one was guessed as the next.
        EXPECT_EQ(reader.Read(12, 13), nullptr);
        EXPECT_EQ(reader.Read(13, -1), nullptr);
        EXPECT_TRUE(SameAsFrame(reader.Read(0, 12), all, 0));
        EXPECT_EQ(reader.Read(12, -1), nullptr);
    }
}

TEST(FrameReader, AFrameCutOffTheFileIsNotServed) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-cut"), 6);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    FrameReader reader(file, true);
    ASSERT_TRUE(SameAsFrame(reader.Read(0, 1), all, 0));
    ASSERT_TRUE(SameAsFrame(reader.Read(1, 2), all, 1));
    // Frames 3.. go away while frame 2 may already be read ahead; frame 2 is still whole.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(3 * kQcif)), 0);
    EXPECT_TRUE(SameAsFrame(reader.Read(2, 3), all, 2));
    EXPECT_EQ(reader.Read(3, 4), nullptr);
    EXPECT_EQ(reader.Read(4, -1), nullptr);
}

// Reads ahead in pieces, with 0, 1, 2 or every piece (a QCIF frame has three, the last one
// short) read by steps between the calls; a step finds nothing once the pieces are taken or when
// no frame is expected.
TEST(FrameReader, FramesReadInStepsAreTheFilesFrames) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-steps"), 12);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    for (int steps : {0, 1, 2, 100}) {
        FrameReader reader(file, true, true, kPiece);
        EXPECT_TRUE(reader.readsAhead());
        EXPECT_FALSE(FrameReader::ReadStep(&reader)) << "no frame expected yet";
        const int calls[][2] = {{0, 1},  {1, 2}, {2, 4},  {4, 6},  {6, 7},
                                {9, 10}, {9, 3}, {3, -1}, {5, 11}, {11, -1}};
        for (const auto& c : calls) {
            const uint8_t* got = reader.Read(c[0], c[1]);
            ASSERT_TRUE(SameAsFrame(got, all, c[0])) << "frame " << c[0] << ", " << steps << " steps";
            int done = 0;
            while (done < steps && FrameReader::ReadStep(&reader)) ++done;
            if (c[1] < 0) {
                EXPECT_EQ(done, 0) << "a step with no frame expected";
            }
            // The answer stays intact while the next frame is read into the other buffer.
            ASSERT_TRUE(SameAsFrame(got, all, c[0])) << "frame " << c[0] << " after the steps";
        }
        EXPECT_EQ(reader.Read(12, -1), nullptr);
    }
}

// Two ahead: the next frame is whole when Read returns (Ready gives it) and stays so through the
// following Read, which serves it, while the frame after it is read in steps; guesses that miss,
// frames asked for again, a missing `after` and frames outside the file are served as without.
TEST(FrameReader, TwoAheadKeepsTheNextFrameWhole) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-two"), 12);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    for (int steps : {0, 1, 100}) {
        FrameReader reader(file, true, true, kPiece);
        reader.KeepTwoAhead();
        const int calls[][3] = {{0, 1, 2},  {1, 2, 3},    {2, 3, 4},   {3, 5, 7},   {5, 7, 9}, {7, 8, -1},
                                {8, 9, 10}, {10, 11, -1}, {9, 10, 11}, {9, 10, 11}, {4, 2, 0}, {11, -1, -1}};
        const uint8_t* ready = nullptr;
        int readyFrame = -1;
        for (const auto& c : calls) {
            const std::string what =
                "frame " + std::to_string(c[0]) + ", " + std::to_string(steps) + " steps";
            const uint8_t* got = reader.Read(c[0], c[1], c[2]);
            ASSERT_TRUE(SameAsFrame(got, all, c[0])) << what;
            // The frame that was ready is the one served, in the same buffer.
            if (ready && readyFrame == c[0]) {
                EXPECT_EQ(got, ready) << what;
            }
            ready = c[1] >= 0 ? reader.Ready(c[1]) : nullptr;
            readyFrame = c[1];
            if (c[1] >= 0 && c[2] >= 0) {
                ASSERT_TRUE(SameAsFrame(ready, all, c[1])) << what << ": next frame " << c[1];
            }
            EXPECT_EQ(reader.Ready(c[0]), nullptr) << what << ": the current frame is not ready";
            int done = 0;
            while (done < steps && FrameReader::ReadStep(&reader)) ++done;
            ASSERT_TRUE(SameAsFrame(got, all, c[0])) << what << " after the steps";
            if (ready) {
                ASSERT_TRUE(SameAsFrame(ready, all, c[1])) << what << ": next frame after the steps";
            }
        }
        EXPECT_EQ(reader.Read(12, 13, 14), nullptr);
        EXPECT_EQ(reader.Ready(13), nullptr);
    }
}

TEST(FrameReader, AFrameReadTwoAheadAndCutOffSinceIsNotServed) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-two-cut"), 6);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    FrameReader reader(file, true, true, kPiece);
    reader.KeepTwoAhead();
    ASSERT_TRUE(SameAsFrame(reader.Read(0, 1, 2), all, 0));
    while (FrameReader::ReadStep(&reader)) {
    }
    // Frames 2.. go away after frame 2 was read whole.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(2 * kQcif)), 0);
    EXPECT_TRUE(SameAsFrame(reader.Read(1, 2, 3), all, 1));
    EXPECT_EQ(reader.Read(2, 3, 4), nullptr);
}

// The coding threads take steps on several threads at once (run under ThreadSanitizer too).
TEST(FrameReader, StepsOnSeveralThreads) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-threads"), 8);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    FrameReader reader(file, true, true, kPiece);
    ASSERT_TRUE(SameAsFrame(reader.Read(0, 1), all, 0));
    for (int k = 1; k < 8; ++k) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&] {
                while (FrameReader::ReadStep(&reader)) {
                }
            });
        for (auto& t : threads) t.join();
        ASSERT_TRUE(SameAsFrame(reader.Read(k, k + 1 < 8 ? k + 1 : -1), all, k)) << "frame " << k;
    }
}

// A frame whose pieces fail (the file was cut while it was read in steps) is read again by the
// call, which reports the loss; pieces read before the cut do not make it look whole.
TEST(FrameReader, AFrameCutWhileReadInStepsIsNotServed) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-stepcut"), 6);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    FrameReader reader(file, true, true, kPiece);
    ASSERT_TRUE(SameAsFrame(reader.Read(0, 1), all, 0));
    while (FrameReader::ReadStep(&reader)) {
    }
    ASSERT_TRUE(SameAsFrame(reader.Read(1, 2), all, 1));
    ASSERT_TRUE(FrameReader::ReadStep(&reader));  // the first piece of frame 2, before the cut
    // Frame 2 loses its end, frames 3.. are gone.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(2 * kQcif + kQcif / 2)), 0);
    EXPECT_EQ(reader.Read(2, 3), nullptr);
    while (FrameReader::ReadStep(&reader)) {
    }
    EXPECT_EQ(reader.Read(3, -1), nullptr);
    // A frame still whole is served.
    EXPECT_TRUE(SameAsFrame(reader.Read(1, -1), all, 1));
}

// A Y4M file of `frames` QCIF frames with per-frame parameters on some FRAME lines, so that the
// frames do not sit at a fixed stride. Returns the pictures' bytes in `pictures`.
std::string MakeY4m(const std::string& dir, int frames, std::vector<uint8_t>* pictures) {
    std::string text = "YUV4MPEG2 W176 H144 F25:1 C420jpeg\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    pictures->clear();
    for (int k = 0; k < frames; ++k) {
        const std::string marker = k % 3 == 1 ? "FRAME Ixyz\n" : "FRAME\n";
        bytes.insert(bytes.end(), marker.begin(), marker.end());
        for (size_t i = 0; i < kQcif; ++i) {
            const uint8_t v = static_cast<uint8_t>(i * 7 + k * 31);
            bytes.push_back(v);
            pictures->push_back(v);
        }
    }
    const std::string path = dir + "/seq.y4m";
    testsupport::WriteFile(path, bytes);
    return path;
}

// In place, the frames come from windows of the mapped file: windows smaller than a frame, a few
// frames long, or the whole file, frames inside the window served last or straddling its end,
// in any order, raw and Y4M alike. Nothing is read ahead then.
TEST(FrameReader, FramesServedInPlaceAreTheFilesFrames) {
    const std::string dir = testsupport::MakeTempDir("framereader-inplace");
    std::vector<uint8_t> y4m;
    const std::string paths[] = {MakeSequence(dir, 12), MakeY4m(dir, 12, &y4m)};
    for (const std::string& path : paths) {
        const std::vector<uint8_t> all = path == paths[0] ? testsupport::ReadFile(path) : y4m;
        VideoFile file;
        ASSERT_TRUE(file.Open(path)) << file.Error();
        for (size_t window : {size_t{4096}, 3 * kQcif, size_t{8} << 20}) {
            FrameReader reader(file, true, true, kPiece);
            ASSERT_TRUE(reader.MapInPlace(2, window)) << path;
            EXPECT_FALSE(reader.readsAhead());
            EXPECT_FALSE(FrameReader::ReadStep(&reader));
            for (int k : {2, 3, 4, 5, 11, 0, 1, 7, 7, 6, 10}) {
                const uint8_t* got = reader.Read(k, k + 1);
                ASSERT_TRUE(SameAsFrame(got, all, k)) << path << ", frame " << k << ", window " << window;
                EXPECT_FALSE(reader.Faulted());
            }
            EXPECT_EQ(reader.Read(12, -1), nullptr);
        }
    }
}

// Mapped only where that is the cheaper way in: either way the frames are the file's, and the
// reader says which way it took.
TEST(FrameReader, InPlaceWhenFasterServesTheFilesFramesEitherWay) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-whenfaster"), 70);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    for (int round = 0; round < 3; ++round) {
        FrameReader reader(file, false);
        const bool mapped = reader.MapInPlace(1, FrameReader::kWindowBytes, FrameReader::InPlace::kWhenFaster);
        EXPECT_EQ(mapped, reader.mapsInPlace());
        for (int k : {1, 2, 69, 0, 55, 56}) {
            EXPECT_TRUE(SameAsFrame(reader.Read(k, k + 1), all, k)) << "frame " << k << ", mapped " << mapped;
            EXPECT_FALSE(reader.Faulted());
        }
        EXPECT_EQ(reader.Read(70, -1), nullptr);
    }
}

// When the file cannot be mapped (here: every guard against bus errors is taken), the reader
// stays with copies and serves the same frames.
TEST(FrameReader, AFileThatCannotBeMappedIsCopied) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-nomap"), 4);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    int fd = -1;
    uint64_t offset = 0;
    ASSERT_TRUE(file.FrameLocation(0, &fd, &offset));
    std::vector<std::unique_ptr<GuardedMapping>> taken;
    for (auto m = std::make_unique<GuardedMapping>(); m->Map(fd, 0, 4096);
         m = std::make_unique<GuardedMapping>())
        taken.push_back(std::move(m));
    FrameReader reader(file, false);
    EXPECT_FALSE(reader.MapInPlace(1));
    EXPECT_FALSE(reader.mapsInPlace());
    for (int k : {1, 2, 0, 3}) EXPECT_TRUE(SameAsFrame(reader.Read(k, -1), all, k)) << "frame " << k;
}

// A frame cut off the file before its turn is not served in place either. One cut while it is
// being read gives zeros where its bytes were, on any thread, instead of a bus error that would
// end the process, and the reader reports it; the next window serves whole frames again.
TEST(FrameReader, AFrameCutWhileServedInPlaceReadsAsZerosAndIsReported) {
    const std::string path = MakeSequence(testsupport::MakeTempDir("framereader-inplace-cut"), 6);
    const std::vector<uint8_t> all = testsupport::ReadFile(path);
    VideoFile file;
    ASSERT_TRUE(file.Open(path));
    FrameReader reader(file, false);
    ASSERT_TRUE(reader.MapInPlace(0, size_t{1} << 20));
    const uint8_t* frame2 = reader.Read(2, 3);
    ASSERT_TRUE(SameAsFrame(frame2, all, 2));
    // Frame 2 loses its second half (the pages past the new end fault), frames 3.. are gone.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(2 * kQcif + kQcif / 2)), 0);
    uint64_t sum = 0;
    std::thread reading([&] {
        for (size_t i = 0; i < kQcif; ++i) sum += frame2[i];
    });
    reading.join();
    EXPECT_TRUE(reader.Faulted());
    // The first page that faulted and everything after it read as zeros: at most the pages
    // before the cut keep their bytes.
    uint64_t before = 0;
    for (size_t i = 0; i < kQcif / 2; ++i) before += all[2 * kQcif + i];
    EXPECT_LE(sum, before);
    EXPECT_EQ(frame2[kQcif - 1], 0);
    EXPECT_EQ(reader.Read(3, -1), nullptr);
    // The first frames are still whole: they are served from a new mapping.
    EXPECT_TRUE(SameAsFrame(reader.Read(1, -1), all, 1));
    EXPECT_FALSE(reader.Faulted());
}

struct Quiet : JobObserver {
    void Log(const std::string&) override {}
};

// The encode job reads ahead with two coding threads and reads each frame itself with one: the
// same bytes either way, also when only every third frame is coded (the guess of the next frame
// then follows the step).
TEST(FrameReader, EncodeJobsReadingAheadGiveTheOneThreadBytes) {
    const std::string dir = testsupport::MakeTempDir("framereader-job");
    SyntheticOptions o;
    o.frames = 12;
    testsupport::WriteFile(dir + "/seq.qcif", GenerateSyntheticSequence(o));
    VideoFile input;
    ASSERT_TRUE(input.Open(dir + "/seq.qcif"));
    for (int step : {1, 3}) {
        std::vector<uint8_t> streams[2];
        for (int threads : {1, 2}) {
            EncodeJobConfig config;
            config.input = &input;
            config.outputPath = dir + "/out" + std::to_string(threads) + ".263";
            config.settings = LoadSettings({});
            ReinitEncoderParams({}, input.frameCount(), input.format(), input.width(), input.height(),
                                &config.settings);
            config.settings.coder.Threads = threads;
            config.settings.coder.FrameRateActual = step;
            Quiet quiet;
            EncodeJob job;
            std::string error;
            ASSERT_TRUE(job.Start(config, quiet, &error)) << error;
            ASSERT_EQ(job.Wait().status, JobStatus::kCompleted);
            streams[threads - 1] = testsupport::ReadFile(config.outputPath);
        }
        ASSERT_FALSE(streams[0].empty());
        EXPECT_TRUE(streams[0] == streams[1]) << "frame step " << step;
    }
}

}  // namespace
}  // namespace tessaro
