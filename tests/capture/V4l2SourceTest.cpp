// The V4L2 source against a fake device behind the ioctl layer: listing, format mapping,
// negotiation, the frame period, buffer handling (row padding, short and damaged buffers), and
// the failures of a device.
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "TestSupport.h"
#include "V4l2Source.h"

namespace tessaro {
namespace {

// One fake camera: its formats, what it does with buffers, and a record of the calls it got.
class FakeDevice : public V4l2Layer {
  public:
    struct Node {
        std::string card = "Fake Camera";
        bool canCapture = true;
        int openError = 0;
    };
    std::map<std::string, Node> nodes;
    std::vector<uint32_t> formats = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_MJPEG};
    std::vector<std::pair<int, int>> sizes = {{176, 144}, {352, 288}, {640, 480}};
    bool stepwiseYuv420 = true;  // YUV420 has a continuous size range instead
    int rowPadding = 0;          // bytes added to every row of the first plane
    std::set<uint64_t> shortFrames, damagedFrames;
    uint64_t unplugAfter = UINT64_MAX;  // DQBUF fails with ENODEV from this frame on
    bool periodSupported = true;

    // Records.
    v4l2_fract lastPeriod{0, 0};
    int streamOns = 0, streamOffs = 0, unmapped = 0;
    size_t buffersHeld = 0;

    int Open(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = nodes.find(path);
        if (it == nodes.end()) {
            errno = ENOENT;
            return -1;
        }
        if (it->second.openError) {
            errno = it->second.openError;
            return -1;
        }
        const int fd = nextFd_++;
        fdNodes_[fd] = path;
        return fd;
    }
    int Close(int fd) override {
        std::lock_guard<std::mutex> lock(mutex_);
        fdNodes_.erase(fd);
        return 0;
    }
    void* Map(int, size_t length, int64_t offset) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t index = static_cast<size_t>(offset / kOffsetStep);
        if (index >= buffers_.size() || length != buffers_[index].size()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        return buffers_[index].data();
    }
    int Unmap(void*, size_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++unmapped;
        return 0;
    }
    int WaitReadable(int, int) override { return 1; }

    int Ioctl(int fd, unsigned long request, void* argument) override {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* caps = static_cast<v4l2_capability*>(argument);
                const Node& node = nodes[fdNodes_[fd]];
                std::snprintf(reinterpret_cast<char*>(caps->card), sizeof caps->card, "%s",
                              node.card.c_str());
                caps->capabilities = V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING |
                                     V4L2_CAP_META_CAPTURE;
                caps->device_caps =
                    node.canCapture ? (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING) : V4L2_CAP_META_CAPTURE;
                return 0;
            }
            case VIDIOC_G_FMT:
                static_cast<v4l2_format*>(argument)->fmt.pix = current_;
                return 0;
            case VIDIOC_ENUM_FMT: {
                auto* desc = static_cast<v4l2_fmtdesc*>(argument);
                if (desc->index >= formats.size()) return Fail(EINVAL);
                desc->pixelformat = formats[desc->index];
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* size = static_cast<v4l2_frmsizeenum*>(argument);
                if (size->pixel_format == V4L2_PIX_FMT_YUV420 && stepwiseYuv420) {
                    if (size->index > 0) return Fail(EINVAL);
                    size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    size->stepwise = v4l2_frmsize_stepwise{160, 640, 8, 120, 480, 8};
                    return 0;
                }
                if (size->index >= sizes.size()) return Fail(EINVAL);
                size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size->discrete.width = static_cast<uint32_t>(sizes[size->index].first);
                size->discrete.height = static_cast<uint32_t>(sizes[size->index].second);
                return 0;
            }
            case VIDIOC_S_FMT: {
                if (!buffers_.empty()) return Fail(EBUSY);
                v4l2_pix_format& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
                // Like a real driver: an unknown format becomes the first one, the size the nearest offered.
                if (std::find(formats.begin(), formats.end(), pix.pixelformat) == formats.end()) {
                    pix.pixelformat = formats[0];
                }
                auto best = sizes[0];
                for (const auto& s : sizes) {
                    const auto distance = [&](const std::pair<int, int>& c) {
                        return std::abs(c.first - static_cast<int>(pix.width)) +
                               std::abs(c.second - static_cast<int>(pix.height));
                    };
                    if (distance(s) < distance(best)) best = s;
                }
                pix.width = static_cast<uint32_t>(best.first);
                pix.height = static_cast<uint32_t>(best.second);
                const uint32_t pixelBytes = pix.pixelformat == V4L2_PIX_FMT_YUYV ? 2 : 1;
                pix.bytesperline = pix.width * pixelBytes + static_cast<uint32_t>(rowPadding);
                pix.sizeimage =
                    pix.pixelformat == V4L2_PIX_FMT_YUYV
                        ? pix.bytesperline * pix.height
                        : pix.bytesperline * pix.height + (pix.bytesperline / 2) * (pix.height / 2) * 2;
                current_ = pix;
                return 0;
            }
            case VIDIOC_G_PARM: {
                auto* parm = static_cast<v4l2_streamparm*>(argument);
                parm->parm.capture.capability = periodSupported ? V4L2_CAP_TIMEPERFRAME : 0;
                parm->parm.capture.timeperframe = lastPeriod;
                return 0;
            }
            case VIDIOC_S_PARM:
                lastPeriod = static_cast<v4l2_streamparm*>(argument)->parm.capture.timeperframe;
                return 0;
            case VIDIOC_REQBUFS: {
                auto* req = static_cast<v4l2_requestbuffers*>(argument);
                buffers_.clear();
                queue_.clear();
                for (uint32_t i = 0; i < req->count; ++i) buffers_.emplace_back(current_.sizeimage, 0);
                buffersHeld = buffers_.size();
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(argument);
                if (b->index >= buffers_.size()) return Fail(EINVAL);
                b->length = static_cast<uint32_t>(buffers_[b->index].size());
                b->m.offset = b->index * kOffsetStep;
                return 0;
            }
            case VIDIOC_QBUF:
                queue_.push_back(static_cast<v4l2_buffer*>(argument)->index);
                return 0;
            case VIDIOC_STREAMON:
                ++streamOns;
                return 0;
            case VIDIOC_STREAMOFF:
                ++streamOffs;
                return 0;
            case VIDIOC_DQBUF: {
                if (frame_ >= unplugAfter) return Fail(ENODEV);
                if (queue_.empty()) return Fail(EAGAIN);
                auto* b = static_cast<v4l2_buffer*>(argument);
                b->index = queue_.front();
                queue_.pop_front();
                std::vector<uint8_t>& data = buffers_[b->index];
                Fill(data, frame_);
                b->bytesused = shortFrames.count(frame_) ? current_.sizeimage / 2 : current_.sizeimage;
                b->flags = damagedFrames.count(frame_) ? V4L2_BUF_FLAG_ERROR : 0;
                ++frame_;
                return 0;
            }
            default:
                return Fail(ENOTTY);
        }
    }

    // The bytes of a picture row `row` of frame `k` (padding bytes are 0xEE).
    static uint8_t Sample(uint64_t k, size_t row, size_t column) {
        return static_cast<uint8_t>(k * 7 + row * 3 + column);
    }

  private:
    static constexpr uint32_t kOffsetStep = 0x100000;
    static int Fail(int error) {
        errno = error;
        return -1;
    }
    void Fill(std::vector<uint8_t>& data, uint64_t k) {
        std::fill(data.begin(), data.end(), 0xEE);
        const size_t stride = current_.bytesperline;
        const size_t rowBytes =
            current_.pixelformat == V4L2_PIX_FMT_YUYV ? current_.width * 2 : current_.width;
        size_t at = 0, row = 0;
        for (size_t r = 0; r < current_.height; ++r, ++row, at += stride) {
            for (size_t c = 0; c < rowBytes; ++c) data[at + c] = Sample(k, row, c);
        }
        if (current_.pixelformat == V4L2_PIX_FMT_YUYV) return;
        for (int plane = 0; plane < 2; ++plane) {
            for (size_t r = 0; r < current_.height / 2; ++r, ++row, at += stride / 2) {
                for (size_t c = 0; c < current_.width / 2; ++c) data[at + c] = Sample(k, row, c);
            }
        }
    }

    std::mutex mutex_;
    int nextFd_ = 10;
    std::map<int, std::string> fdNodes_;
    v4l2_pix_format current_{176, 144, V4L2_PIX_FMT_YUYV, V4L2_FIELD_NONE, 352, 352 * 144, 0, 0, 0, 0, 0, 0};
    std::vector<std::vector<uint8_t>> buffers_;
    std::deque<uint32_t> queue_;
    uint64_t frame_ = 0;
};

// Frames and errors of a source, with waiting.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint64_t> sequences;
    std::vector<std::pair<int, std::string>> errors;

    void Attach(FrameSource& source) {
        source.SetFrameCallback([this](const CapturedFrame& f) {
            std::lock_guard<std::mutex> lock(mutex);
            frames.emplace_back(f.data, f.data + f.size);
            sequences.push_back(f.sequence);
            changed.notify_all();
        });
        source.SetErrorCallback([this](int code, const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            errors.emplace_back(code, text);
            changed.notify_all();
        });
    }
    bool WaitFor(const std::function<bool()>& condition) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), condition);
    }
};

std::shared_ptr<FakeDevice> OneCamera() {
    auto fake = std::make_shared<FakeDevice>();
    fake->nodes["/dev/video0"] = FakeDevice::Node{};
    return fake;
}

TEST(V4l2Formats, MappingBothWays) {
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_YUV420), kFourccI420);
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_YVU420), kFourccYV12);
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_YUYV), kFourccYUY2);
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_UYVY), kFourccUYVY);
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_BGR24), kFourccRGB24);
    for (uint32_t f :
         {kFourccI420, kFourccYV12, kFourccYUY2, kFourccUYVY, kFourccRGB24, kFourccYVU9, kFourccY41P}) {
        EXPECT_EQ(FourccOfV4l2(V4l2OfFourcc(f)), f) << FourccText(f);
    }
    // Formats without a name of ours keep the device's code (and are refused for capture).
    EXPECT_EQ(FourccOfV4l2(V4L2_PIX_FMT_MJPEG), static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(FourccText(FourccOfV4l2(V4L2_PIX_FMT_MJPEG)), "MJPG");
}

TEST(V4l2Devices, ListsCaptureNodesInNumberOrder) {
    const std::string dir = testsupport::MakeTempDir("v4l2-list");
    for (const char* name : {"video0", "video10", "video2", "video3", "videoX", "media0"}) {
        testsupport::WriteFile(dir + "/" + name, std::vector<uint8_t>{});
    }
    FakeDevice fake;
    fake.nodes[dir + "/video0"] = FakeDevice::Node{"Cam", true, 0};
    fake.nodes[dir + "/video2"] = FakeDevice::Node{"Cam", false, 0};  // metadata node of the same camera
    fake.nodes[dir + "/video3"] = FakeDevice::Node{"Busy", true, EBUSY};
    fake.nodes[dir + "/video10"] = FakeDevice::Node{"Cam", true, 0};
    const std::vector<V4l2DeviceInfo> devices = ListV4l2Devices(fake, dir);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, dir + "/video0");
    EXPECT_EQ(devices[0].name, "Cam (" + dir + "/video0)");
    EXPECT_EQ(devices[1].path, dir + "/video10");
}

TEST(V4l2Devices, WithoutDevicesOnlyTheTestPatternIsListed) {
    const std::vector<SourceInfo> sources = ListSources(testsupport::MakeTempDir("v4l2-none"));
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_TRUE(sources[0].testPattern);
    EXPECT_EQ(sources[0].name, "Test Pattern");
    std::string error;
    EXPECT_NE(OpenSource(sources[0], &error), nullptr);
    // The test pattern is always last, also on this machine's own device folder.
    const std::vector<SourceInfo> system = ListSources();
    ASSERT_FALSE(system.empty());
    EXPECT_TRUE(system.back().testPattern);
}

TEST(V4l2Devices, OpenFailuresSayWhy) {
    auto fake = std::make_shared<FakeDevice>();
    fake->nodes["/dev/video0"] = FakeDevice::Node{"Cam", true, EBUSY};
    fake->nodes["/dev/video1"] = FakeDevice::Node{"Cam", true, EACCES};
    fake->nodes["/dev/video2"] = FakeDevice::Node{"Meta", false, 0};
    std::string error;
    EXPECT_FALSE(V4l2Source(fake, "/dev/video0").Open(&error));
    EXPECT_EQ(error, "The video device /dev/video0 is busy (another program uses it)");
    EXPECT_FALSE(V4l2Source(fake, "/dev/video1").Open(&error));
    EXPECT_EQ(error.rfind("No permission to open the video device /dev/video1", 0), 0u);
    EXPECT_FALSE(V4l2Source(fake, "/dev/video9").Open(&error));
    EXPECT_EQ(error, "The video device /dev/video9 is not connected");
    EXPECT_FALSE(V4l2Source(fake, "/dev/video2").Open(&error));
    EXPECT_EQ(error, "/dev/video2 is no video capture device with streaming");
}

TEST(V4l2Negotiation, FormatsSizesAndTheDevicesChoice) {
    auto fake = OneCamera();
    V4l2Source source(fake, "/dev/video0");
    std::string error;
    ASSERT_TRUE(source.Open(&error)) << error;
    EXPECT_EQ(source.Name(), "Fake Camera");
    EXPECT_EQ(source.fourcc(), kFourccYUY2);
    EXPECT_EQ(source.width(), 176);

    const std::vector<SourceFormat> formats = source.Formats();
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].fourcc, kFourccYUY2);
    EXPECT_EQ(formats[0].sizes, (std::vector<FrameSize>{{176, 144}, {352, 288}, {640, 480}}));
    EXPECT_FALSE(formats[0].customSizes);
    EXPECT_EQ(formats[1].fourcc, kFourccI420);
    EXPECT_TRUE(formats[1].customSizes);
    // A range lists its ends and the common sizes that lie on its steps.
    EXPECT_EQ(formats[1].sizes,
              (std::vector<FrameSize>{{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}}));
    EXPECT_EQ(formats[2].fourcc, static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));

    // The device settles on its nearest size.
    ASSERT_TRUE(source.SetFormat(kFourccYUY2, 360, 280, &error)) << error;
    EXPECT_EQ(source.width(), 352);
    EXPECT_EQ(source.height(), 288);
    // A format the device lacks is refused, and the source tells what the device has now.
    EXPECT_FALSE(source.SetFormat(kFourccUYVY, 176, 144, &error));
    EXPECT_EQ(error, "The video device /dev/video0 does not offer the format UYVY");
    EXPECT_EQ(source.fourcc(), kFourccYUY2);
}

TEST(V4l2Negotiation, FramePeriodAsAReducedFraction) {
    auto fake = OneCamera();
    V4l2Source source(fake, "/dev/video0");
    std::string error;
    ASSERT_TRUE(source.Open(&error));
    source.SetFramePeriod(33333);
    EXPECT_EQ(fake->lastPeriod.numerator, 33333u);
    EXPECT_EQ(fake->lastPeriod.denominator, 1000000u);
    source.SetFramePeriod(40000);
    EXPECT_EQ(fake->lastPeriod.numerator, 1u);
    EXPECT_EQ(fake->lastPeriod.denominator, 25u);
    fake->periodSupported = false;
    source.SetFramePeriod(100000);
    EXPECT_EQ(fake->lastPeriod.denominator, 25u);  // a device without the setting keeps its own rate
    EXPECT_EQ(source.FramePeriod(), 100000);
}

TEST(V4l2Streaming, PaddedRowsAreRemovedAndBadBuffersDropped) {
    auto fake = OneCamera();
    fake->rowPadding = 32;
    fake->shortFrames = {1};
    fake->damagedFrames = {3};
    V4l2Source source(fake, "/dev/video0");
    Collector collector;
    collector.Attach(source);
    std::string error;
    ASSERT_TRUE(source.Open(&error));
    ASSERT_TRUE(source.SetFormat(kFourccYUY2, 176, 144, &error)) << error;
    EXPECT_EQ(source.bytesPerLine(), 176 * 2 + 32);
    ASSERT_TRUE(source.Start(&error)) << error;
    EXPECT_TRUE(source.Capturing());
    ASSERT_TRUE(collector.WaitFor([&] { return collector.frames.size() >= 4; }));
    source.Stop();
    EXPECT_FALSE(source.Capturing());
    EXPECT_EQ(fake->streamOns, 1);
    EXPECT_EQ(fake->streamOffs, 1);
    EXPECT_EQ(fake->unmapped, V4l2Source::kBufferCount);
    EXPECT_EQ(fake->buffersHeld, 0u);

    // Device frames 0, 2, 4, 5 arrive (1 was short, 3 damaged), numbered without gaps.
    EXPECT_EQ(collector.sequences[0], 0u);
    EXPECT_EQ(collector.sequences[3], 3u);
    const uint64_t deviceFrames[] = {0, 2, 4, 5};
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t>& frame = collector.frames[static_cast<size_t>(i)];
        ASSERT_EQ(frame.size(), 176u * 144 * 2);
        bool same = true;
        for (size_t row = 0; row < 144 && same; ++row) {
            for (size_t c = 0; c < 352; ++c)
                same = same && frame[row * 352 + c] == FakeDevice::Sample(deviceFrames[i], row, c);
        }
        EXPECT_TRUE(same) << "frame " << i;
    }
}

TEST(V4l2Streaming, PlanarFramesWithPaddedPlanes) {
    auto fake = OneCamera();
    fake->rowPadding = 16;
    fake->stepwiseYuv420 = false;
    V4l2Source source(fake, "/dev/video0");
    Collector collector;
    collector.Attach(source);
    std::string error;
    ASSERT_TRUE(source.Open(&error));
    ASSERT_TRUE(source.SetFormat(kFourccI420, 176, 144, &error)) << error;
    ASSERT_TRUE(source.Start(&error)) << error;
    ASSERT_TRUE(collector.WaitFor([&] { return !collector.frames.empty(); }));
    source.Stop();
    const std::vector<uint8_t>& frame = collector.frames[0];
    ASSERT_EQ(frame.size(), 38016u);
    EXPECT_EQ(frame[0], FakeDevice::Sample(0, 0, 0));
    EXPECT_EQ(frame[176 * 143 + 175], FakeDevice::Sample(0, 143, 175));
    // Cb row 0 is device row 144, Cr row 71 device row 144 + 72 + 71.
    EXPECT_EQ(frame[176 * 144], FakeDevice::Sample(0, 144, 0));
    EXPECT_EQ(frame[38016 - 1], FakeDevice::Sample(0, 144 + 72 + 71, 87));
}

TEST(V4l2Streaming, UnpluggedDeviceReportsAndStops) {
    auto fake = OneCamera();
    fake->unplugAfter = 3;
    V4l2Source source(fake, "/dev/video0");
    Collector collector;
    collector.Attach(source);
    std::string error;
    ASSERT_TRUE(source.Open(&error));
    ASSERT_TRUE(source.Start(&error)) << error;
    ASSERT_TRUE(collector.WaitFor([&] { return !collector.errors.empty(); }));
    EXPECT_EQ(collector.frames.size(), 3u);
    EXPECT_EQ(collector.errors[0].first, ENODEV);
    EXPECT_EQ(collector.errors[0].second, "The video device /dev/video0 was disconnected");
    source.Stop();
    EXPECT_FALSE(source.Capturing());
    EXPECT_EQ(fake->buffersHeld, 0u);
}

}  // namespace
}  // namespace tessaro
