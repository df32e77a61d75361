// YUV4MPEG2 sequences: the header parser's acceptances and refusals (with their reasons), frame
// headers, the header written, and opening .y4m files and streams through VideoFile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "VideoFile.h"
#include "Y4m.h"

namespace tessaro {
namespace {

bool Parse(const std::string& text, Y4mHeader* header, std::string* reason) {
    return ParseY4mHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), header, reason);
}

TEST(Y4mHeaderTest, AcceptsEveryFourTwoZeroSitingAndNoChromaTag) {
    for (const std::string c : {"", " C420", " C420jpeg", " C420paldv", " C420mpeg2"}) {
        Y4mHeader h;
        std::string reason;
        const std::string text = "YUV4MPEG2 W176 H144 F25:1 Ip A128:117" + c + " XYSCSS=420JPEG\n";
        ASSERT_TRUE(Parse(text, &h, &reason)) << c << ": " << reason;
        EXPECT_EQ(h.width, 176);
        EXPECT_EQ(h.height, 144);
        EXPECT_DOUBLE_EQ(h.Rate(), 25.0);
        EXPECT_EQ(h.headerBytes, text.size());
    }
    Y4mHeader h;
    std::string reason;
    ASSERT_TRUE(Parse("YUV4MPEG2 W352 H288 F30000:1001 I?\nFRAME\n", &h, &reason)) << reason;
    EXPECT_NEAR(h.Rate(), 29.97, 0.001);
    EXPECT_EQ(h.headerBytes, 35u);  // "FRAME" belongs to the first frame
    ASSERT_TRUE(Parse("YUV4MPEG2 W64 H48\n", &h, &reason));
    EXPECT_EQ(h.Rate(), 0.0);  // no rate given
}

TEST(Y4mHeaderTest, RefusesWithTheReason) {
    const struct {
        const char* text;
        const char* reason;  // a part of the reason
    } cases[] = {
        {"YUV4MPEG2 W176 H144 F30:1 C422\n", "chroma format 4:2:2 (C422) is not supported"},
        {"YUV4MPEG2 W176 H144 F30:1 C444\n", "4:4:4"},
        {"YUV4MPEG2 W176 H144 F30:1 Cmono\n", "monochrome"},
        {"YUV4MPEG2 W176 H144 F30:1 C420p10\n", "C420p10"},
        {"YUV4MPEG2 W176 H144 F30:1 It\n", "interlaced content (It)"},
        {"YUV4MPEG2 W176 H144 F30:1 Ib\n", "interlaced"},
        {"YUV4MPEG2 W176 H144 F30:1 Im\n", "interlaced"},
        {"YUV4MPEG2 W176 F30:1\n", "no picture width and height"},
        {"YUV4MPEG2 W175 H144\n", "175x144 cannot be taken"},
        {"YUV4MPEG2 W4096 H144\n", "cannot be taken"},
        {"YUV4MPEG2 W176 H144 F30\n", "invalid frame rate"},
        {"YUV4MPEG2 W-176 H144\n", "invalid width"},
        {"YUV4MPEG2 W176 H144 Q5\n", "unknown parameter Q5"},
        {"YUV4MPEG2 W176 H144", "has no end"},
        {"YUV4MPEG W176 H144\n", "not a YUV4MPEG2 stream"},
        {"YUV4MPEG2W176 H144\n", "malformed"},
    };
    for (const auto& c : cases) {
        Y4mHeader h;
        std::string reason;
        EXPECT_FALSE(Parse(c.text, &h, &reason)) << c.text;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.text << " -> " << reason;
    }
}

TEST(Y4mHeaderTest, FrameHeaders) {
    auto kind = [](const std::string& text, size_t* length) {
        return ParseY4mFrameHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), length);
    };
    size_t length = 0;
    EXPECT_EQ(kind("FRAME\nxyz", &length), Y4mFrameHeader::kValid);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(kind("FRAME Ip XCOMMENT=1\nxyz", &length), Y4mFrameHeader::kValid);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(kind("FRA", &length), Y4mFrameHeader::kIncomplete);
    EXPECT_EQ(kind("FRAME Ip", &length), Y4mFrameHeader::kIncomplete);
    EXPECT_EQ(kind("FRAMES\n", &length), Y4mFrameHeader::kInvalid);
    EXPECT_EQ(kind("frame\n", &length), Y4mFrameHeader::kInvalid);
    EXPECT_EQ(kind(std::string("FRAME ") + std::string(2000, 'X'), &length), Y4mFrameHeader::kInvalid);
}

TEST(Y4mHeaderTest, WrittenHeaderCarriesTheRateAsAFraction) {
    EXPECT_EQ(Y4mStreamHeader(176, 144, 30.0), "YUV4MPEG2 W176 H144 F30:1 Ip A0:0 C420jpeg\n");
    EXPECT_NE(Y4mStreamHeader(176, 144, 12.5).find(" F25:2 "), std::string::npos);
    EXPECT_NE(Y4mStreamHeader(176, 144, 8.3).find(" F83:10 "), std::string::npos);
    EXPECT_NE(Y4mStreamHeader(176, 144, 30000.0 / 1001).find(" F30000:1001 "), std::string::npos);
    // What is written is read back.
    Y4mHeader h;
    std::string reason;
    ASSERT_TRUE(Parse(Y4mStreamHeader(320, 240, 12.5), &h, &reason));
    EXPECT_EQ(h.width, 320);
    EXPECT_DOUBLE_EQ(h.Rate(), 12.5);
    EXPECT_TRUE(IsY4mPath("a/b.Y4M"));
    EXPECT_TRUE(IsY4mPath("-"));
    EXPECT_FALSE(IsY4mPath("a.y4m.qcif"));
}

// A Y4M file of `frames` frames of width x height; frame f filled with f + 1 (each plane a
// different offset), frame headers as given.
std::vector<uint8_t> Sequence(int width, int height, int frames, const std::string& frameHeader = "FRAME\n",
                              const std::string& header = "") {
    const std::string h = header.empty() ? Y4mStreamHeader(width, height, 25.0) : header;
    std::vector<uint8_t> bytes(h.begin(), h.end());
    const size_t luma = static_cast<size_t>(width) * height;
    for (int f = 0; f < frames; ++f) {
        bytes.insert(bytes.end(), frameHeader.begin(), frameHeader.end());
        bytes.insert(bytes.end(), luma, static_cast<uint8_t>(f + 1));
        bytes.insert(bytes.end(), luma / 4, static_cast<uint8_t>(f + 100));
        bytes.insert(bytes.end(), luma / 4, static_cast<uint8_t>(f + 200));
    }
    return bytes;
}

class Y4mFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::MakeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_ + "/" + name;
        testsupport::WriteFile(path, bytes);
        return path;
    }
    std::string dir_;
};

TEST_F(Y4mFileTest, OpensLikeARawFile) {
    VideoFile file(3);
    ASSERT_TRUE(file.Open(Write("a.y4m", Sequence(176, 144, 4, "FRAME Ip XA=1\n")))) << file.Error();
    EXPECT_TRUE(file.isRaw());
    EXPECT_TRUE(file.isY4m());
    EXPECT_FALSE(file.isStream());
    EXPECT_EQ(file.format(), kQcif);
    EXPECT_EQ(file.frameCount(), 4);
    EXPECT_EQ(file.frameBytes(), 38016);
    EXPECT_DOUBLE_EQ(file.headerFrameRate(), 25.0);
    EXPECT_DOUBLE_EQ(file.frameRate(), 25.0);
    std::vector<uint8_t> frame(38016);
    for (int k : {3, 0, 2}) {
        ASSERT_TRUE(file.ReadFrame(k, frame.data()));
        EXPECT_EQ(frame[0], k + 1);
        EXPECT_EQ(frame[25343], k + 1);
        EXPECT_EQ(frame[25344], k + 100);
        EXPECT_EQ(frame[38015], k + 200);
    }
    EXPECT_FALSE(file.ReadFrame(4, frame.data()));
    // A size that is no standard format is a custom one.
    ASSERT_TRUE(file.Open(Write("b.y4m", Sequence(320, 240, 1)))) << file.Error();
    EXPECT_EQ(file.format(), kCustom);
    EXPECT_EQ(file.width(), 320);
}

TEST_F(Y4mFileTest, FrameHeadersOfDifferentLengthsAndACutOffLastFrame) {
    std::vector<uint8_t> bytes = Sequence(128, 96, 2);
    const std::vector<uint8_t> longer = Sequence(128, 96, 1, "FRAME Ip XLONG=PARAMETER\n", "-");
    // The stream header of `longer` is "-": take its frame only.
    bytes.insert(bytes.end(), longer.begin() + 1, longer.end());
    bytes.insert(bytes.end(), {'F', 'R', 'A', 'M', 'E', '\n'});
    bytes.resize(bytes.size() + 6000, 0);  // a frame cut short
    VideoFile file;
    ASSERT_TRUE(file.Open(Write("c.y4m", bytes))) << file.Error();
    EXPECT_EQ(file.frameCount(), 3);
    std::vector<uint8_t> frame(18432);
    ASSERT_TRUE(file.ReadFrame(2, frame.data()));
    EXPECT_EQ(frame[0], 1);  // the first frame of `longer`
    EXPECT_EQ(frame[18431], 200);

    // A cut-off frame header at the end is a cut-off frame too.
    std::vector<uint8_t> cut = Sequence(128, 96, 2);
    cut.insert(cut.end(), {'F', 'R', 'A'});
    ASSERT_TRUE(file.Open(Write("d.y4m", cut))) << file.Error();
    EXPECT_EQ(file.frameCount(), 2);
}

TEST_F(Y4mFileTest, RefusalsSayWhy) {
    VideoFile file;
    EXPECT_FALSE(
        file.Open(Write("e.y4m", Sequence(176, 144, 2, "FRAME\n", "YUV4MPEG2 W176 H144 F25:1 C422\n"))));
    EXPECT_NE(file.Error().find("Error Opening "), std::string::npos);
    EXPECT_NE(file.Error().find("4:2:2"), std::string::npos) << file.Error();
    EXPECT_FALSE(
        file.Open(Write("f.y4m", Sequence(176, 144, 2, "FRAME\n", "YUV4MPEG2 W176 H144 F25:1 It\n"))));
    EXPECT_NE(file.Error().find("interlaced"), std::string::npos) << file.Error();
    EXPECT_FALSE(file.Open(Write("g.y4m", Sequence(176, 144, 0))));
    EXPECT_NE(file.Error().find("holds no whole frame"), std::string::npos) << file.Error();
    std::vector<uint8_t> broken = Sequence(176, 144, 2);
    broken[broken.size() - 38016 - 6] = 'X';  // the second FRAME marker
    EXPECT_FALSE(file.Open(Write("h.y4m", broken)));
    EXPECT_NE(file.Error().find("frame 1 does not start with a FRAME header"), std::string::npos)
        << file.Error();
    EXPECT_FALSE(file.Open(Write("i.y4m", {'R', 'I', 'F', 'F'})));
    EXPECT_NE(file.Error().find("not a YUV4MPEG2 stream"), std::string::npos) << file.Error();
    EXPECT_FALSE(file.isRaw());
}

// Feeds `bytes` into a pipe from a thread and opens its reading end as a stream.
class Feeder {
  public:
    explicit Feeder(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
        if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
        writer_ = std::thread([this] {
            size_t done = 0;
            while (done < bytes_.size()) {
                const ssize_t n = write(fds_[1], bytes_.data() + done, bytes_.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fds_[1]);
        });
    }
    ~Feeder() {
        writer_.join();
        close(fds_[0]);
    }
    int fd() const { return fds_[0]; }

  private:
    std::vector<uint8_t> bytes_;
    int fds_[2];
    std::thread writer_;
};

TEST_F(Y4mFileTest, StreamIsReadInOrderToItsEnd) {
    std::vector<uint8_t> bytes = Sequence(128, 96, 5, "FRAME Ip\n");
    bytes.resize(bytes.size() - 100);  // the last frame is cut short and left out
    Feeder feeder(bytes);
    VideoFile file;
    ASSERT_TRUE(file.OpenY4mStream(feeder.fd(), "-")) << file.Error();
    EXPECT_TRUE(file.isStream());
    EXPECT_TRUE(file.isRaw());
    EXPECT_EQ(file.frameCount(), 0);  // not known before the end
    EXPECT_EQ(file.format(), kSubQcif);
    std::vector<uint8_t> frame(18432);
    ASSERT_TRUE(file.ReadFrame(0, frame.data()));
    EXPECT_EQ(frame[0], 1);
    ASSERT_TRUE(file.ReadFrame(2, frame.data()));  // frame 1 is read and dropped
    EXPECT_EQ(frame[0], 3);
    EXPECT_FALSE(file.ReadFrame(1, frame.data()));  // a stream does not go back
    ASSERT_TRUE(file.ReadFrame(3, frame.data()));
    EXPECT_FALSE(file.StreamEnded());
    EXPECT_FALSE(file.ReadFrame(4, frame.data()));
    EXPECT_TRUE(file.StreamEnded());
    EXPECT_EQ(file.StreamFault(), "");  // a clean end
}

TEST_F(Y4mFileTest, StreamFaultsAndRefusals) {
    std::vector<uint8_t> bytes = Sequence(128, 96, 3);
    bytes[bytes.size() - 18432 - 6] = 'G';  // frame 2's marker
    {
        Feeder feeder(bytes);
        VideoFile file;
        ASSERT_TRUE(file.OpenY4mStream(feeder.fd(), "-")) << file.Error();
        std::vector<uint8_t> frame(18432);
        EXPECT_TRUE(file.ReadFrame(1, frame.data()));
        EXPECT_FALSE(file.ReadFrame(2, frame.data()));
        EXPECT_NE(file.StreamFault().find("frame 2 of the stream does not start with a FRAME header"),
                  std::string::npos)
            << file.StreamFault();
    }
    {
        Feeder feeder(Sequence(176, 144, 1, "FRAME\n", "YUV4MPEG2 W176 H144 C422\n"));
        VideoFile file;
        EXPECT_FALSE(file.OpenY4mStream(feeder.fd(), "-"));
        EXPECT_EQ(file.Error(),
                  "Error Opening -: chroma format 4:2:2 (C422) is not supported; only 4:2:0 "
                  "8-bit sequences can be opened");
    }
    {
        Feeder feeder({});
        VideoFile file;
        EXPECT_FALSE(file.OpenY4mStream(feeder.fd(), "-"));
        EXPECT_NE(file.Error().find("empty"), std::string::npos) << file.Error();
    }
}

}  // namespace
}  // namespace tessaro
