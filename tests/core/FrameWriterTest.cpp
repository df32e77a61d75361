// Writes through a FrameWriter reach the file whole and in order, on a thread of their own or
// straight, whatever the sizes and pieces; a failed write is reported by the call that meets it,
// and none after it is written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "FrameWriter.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

std::vector<uint8_t> Bytes(size_t size, int seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 31 + seed * 7 + i / 251);
    return b;
}

TEST(FrameWriter, WritesReachTheFileWholeAndInOrder) {
    const std::string dir = testsupport::MakeTempDir("framewriter-order");
    for (bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "straight");
        const std::string path = dir + (threaded ? "/t.raw" : "/s.raw");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> expected;
        {
            FrameWriter writer(fd, threaded);
            EXPECT_EQ(writer.threaded(), threaded);
            // Pictures that grow and shrink (a buffer keeps its capacity but not its old size),
            // empty writes, and a marker and a picture given as two pieces of one write.
            const size_t sizes[] = {38016, 0, 152064, 6, 38016, 608256, 1, 152064, 0, 38016};
            int seed = 0;
            for (int round = 0; round < 4; ++round) {
                for (size_t size : sizes) {
                    const std::vector<uint8_t> b = Bytes(size, ++seed);
                    ASSERT_TRUE(writer.Write(b.data(), b.size()));
                    expected.insert(expected.end(), b.begin(), b.end());
                }
                const std::vector<uint8_t> marker = Bytes(6, ++seed), picture = Bytes(38016, ++seed);
                ASSERT_TRUE(writer.Write({{marker.data(), marker.size()}, {picture.data(), picture.size()}}));
                expected.insert(expected.end(), marker.begin(), marker.end());
                expected.insert(expected.end(), picture.begin(), picture.end());
            }
            // Finish waits for every queued write; then the file is complete.
            ASSERT_TRUE(writer.Finish());
            EXPECT_EQ(writer.Error(), 0);
            EXPECT_TRUE(testsupport::ReadFile(path) == expected);
            // Writes after Finish go on, and the destructor finishes them.
            const std::vector<uint8_t> tail = Bytes(100000, 99);
            ASSERT_TRUE(writer.Write(tail.data(), tail.size()));
            expected.insert(expected.end(), tail.begin(), tail.end());
        }
        close(fd);
        EXPECT_TRUE(testsupport::ReadFile(path) == expected);
    }
}

// Space reserved ahead is given back at the end, and a file is only ever reserved at its end: a
// writer placed before existing bytes neither reserves nor cuts them off.
TEST(FrameWriter, ReservesAheadOnlyAtTheEndAndGivesBackTheRest) {
    const std::string dir = testsupport::MakeTempDir("framewriter-reserve");
    const std::vector<uint8_t> head = Bytes(5000, 7), picture = Bytes(608256, 8);
    for (bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "straight");
        // Appending to a file that holds a head already: 30 pictures, several reservation steps.
        const std::string path = dir + (threaded ? "/t.raw" : "/s.raw");
        testsupport::WriteFile(path, head);
        int fd = open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> expected = head;
        {
            FrameWriter writer(fd, threaded);
            for (int k = 0; k < 30; ++k) {
                ASSERT_TRUE(writer.Write(picture.data(), picture.size()));
                expected.insert(expected.end(), picture.begin(), picture.end());
            }
            ASSERT_TRUE(writer.Finish());
        }
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
        EXPECT_EQ(static_cast<size_t>(st.st_size), expected.size());
        // Blocks for the bytes, not for a reservation beyond them (one step is 8 MB).
        EXPECT_LT(static_cast<size_t>(st.st_blocks) * 512, expected.size() + (1 << 20));
        EXPECT_TRUE(testsupport::ReadFile(path) == expected);

        // Overwriting the start of a file: what lies beyond the written bytes stays.
        fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        {
            FrameWriter writer(fd, threaded);
            ASSERT_TRUE(writer.Write(head.data(), 100));
            ASSERT_TRUE(writer.Finish());
        }
        close(fd);
        std::copy(head.begin(), head.begin() + 100, expected.begin());
        EXPECT_TRUE(testsupport::ReadFile(path) == expected);
    }
}

// A write cut short by the file size limit (EFBIG after part of its bytes): the reservation
// beyond the bytes that reached the file is still given back.
TEST(FrameWriter, AWriteCutShortStillGivesBackTheReservation) {
    const std::string dir = testsupport::MakeTempDir("framewriter-cut");
    const std::vector<uint8_t> picture = Bytes(608256, 3);
    const sighandler_t old = signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "straight");
        const std::string path = dir + (threaded ? "/t.raw" : "/s.raw");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        struct rlimit limit = saved;
        limit.rlim_cur = 1 << 20;  // the second picture stops at 1 MB
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        bool finished;
        {
            FrameWriter writer(fd, threaded);
            for (int k = 0; k < 4 && writer.Write(picture.data(), picture.size()); ++k) {
            }
            finished = writer.Finish();
        }
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
        EXPECT_FALSE(finished);
        EXPECT_EQ(st.st_size, 1 << 20);
        EXPECT_LT(static_cast<size_t>(st.st_blocks) * 512, size_t{2} << 20);
    }
    signal(SIGXFSZ, old);
}

TEST(FrameWriter, AFailedWriteIsReportedAndStopsTheWrites) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "straight");
        const int fd = open("/dev/full", O_WRONLY);
        ASSERT_GE(fd, 0);
        FrameWriter writer(fd, threaded);
        const std::vector<uint8_t> b = Bytes(50000, 1);
        // A threaded writer learns of the failure after the write was queued: a later call says so.
        int accepted = 0;
        while (accepted < 100 && writer.Write(b.data(), b.size())) ++accepted;
        EXPECT_LT(accepted, 100);
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(writer.Error(), ENOSPC);
        if (!threaded) {
            EXPECT_EQ(accepted, 0);
        }
        // Every call after it fails the same way, Finish included, without waiting.
        errno = 0;
        EXPECT_FALSE(writer.Write(b.data(), b.size()));
        EXPECT_EQ(errno, ENOSPC);
        errno = 0;
        EXPECT_FALSE(writer.Finish());
        EXPECT_EQ(errno, ENOSPC);
        close(fd);
    }
}

// A reader that takes part of the output and goes away while writes are queued: the writes behind
// the failed one are dropped (Finish returns instead of waiting for them), and what the reader got
// is the start of the output in order.
TEST(FrameWriter, AFailureBehindQueuedWritesEndsTheQueue) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const sighandler_t old = signal(SIGPIPE, SIG_IGN);
    std::vector<uint8_t> expected;
    std::vector<uint8_t> got(200000);
    size_t read = 0;
    {
        FrameWriter writer(pipeFds[1], true);
        for (int k = 0; k < 3; ++k) {
            const std::vector<uint8_t> b = Bytes(30000, k);
            ASSERT_TRUE(writer.Write(b.data(), b.size()));
            expected.insert(expected.end(), b.begin(), b.end());
        }
        while (read < 40000) {
            const ssize_t n = ::read(pipeFds[0], got.data() + read, got.size() - read);
            ASSERT_GT(n, 0);
            read += static_cast<size_t>(n);
        }
        close(pipeFds[0]);
        bool failed = false;
        for (int k = 3; k < 40 && !failed; ++k) {
            const std::vector<uint8_t> b = Bytes(30000, k);
            failed = !writer.Write(b.data(), b.size());
        }
        EXPECT_FALSE(writer.Finish());
        EXPECT_EQ(writer.Error(), EPIPE);
    }
    signal(SIGPIPE, old);
    close(pipeFds[1]);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(read), expected.begin()));
}

}  // namespace
}  // namespace tessaro
