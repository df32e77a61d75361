// Capture devices (/dev/video*) through Video4Linux2: enumeration of formats and sizes, format
// and frame-period negotiation, memory-mapped streaming on a thread of the source's own, and the
// device's failures (unplugged, busy, no permission) as error callbacks.
//
// Every call that reaches the device goes through V4l2Layer, a thin layer over open, ioctl,
// mmap and poll; the system one uses libv4l2 (which also converts formats a camera offers only
// in compressed form), and tests put a fake device behind it.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FrameSource.h"

namespace tessaro {

class V4l2Layer {
  public:
    virtual ~V4l2Layer() = default;
    // As open(2), ioctl(2), mmap(2), munmap(2), close(2): -1 (MAP_FAILED for Map) with errno set.
    virtual int Open(const std::string& path) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* Map(int fd, size_t length, int64_t offset) = 0;
    virtual int Unmap(void* address, size_t length) = 0;
    // Waits up to `timeoutMs` for a frame: > 0 ready, 0 timeout, -1 error (errno set).
    virtual int WaitReadable(int fd, int timeoutMs) = 0;
};

// The layer of the running system (libv4l2 when built with it, else the plain system calls).
std::shared_ptr<V4l2Layer> SystemV4l2Layer();

// Our FOURCC of a V4L2 pixel format and back; formats without a name of ours keep their V4L2
// code (the capture job refuses them).
uint32_t FourccOfV4l2(uint32_t pixelFormat);
uint32_t V4l2OfFourcc(uint32_t fourcc);

struct V4l2DeviceInfo {
    std::string path;  // /dev/video0
    std::string name;  // the card name, with the node when several devices share a name
};

// Nodes named video<N> under `folder`, in number order, that can capture with streaming I/O.
std::vector<V4l2DeviceInfo> ListV4l2Devices(V4l2Layer& layer, const std::string& folder);

// Message for a failed open of a device node, by errno.
std::string DeviceOpenMessage(const std::string& path, int error);

class V4l2Source : public FrameSource {
  public:
    static constexpr int kBufferCount = 4;
    // Frames a read may wait for before it counts as a stall and is reported.
    static constexpr int kStallTimeoutMs = 5000;

    V4l2Source(std::shared_ptr<V4l2Layer> layer, std::string path, std::string name = "");
    ~V4l2Source() override;

    // Opens the node and checks it can capture with streaming I/O; reads the current format.
    bool Open(std::string* error);

    std::string Name() const override { return name_; }
    std::vector<SourceFormat> Formats() const override;
    bool SetFormat(uint32_t fourcc, int width, int height, std::string* error) override;
    uint32_t fourcc() const override { return fourcc_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void SetFramePeriod(int64_t microseconds) override;
    int64_t FramePeriod() const override { return period_.load(); }
    bool Start(std::string* error) override;
    void Stop() override;
    bool Capturing() const override { return capturing_.load(); }

    // Row strides the device settled on (bytes per row of the first plane).
    int bytesPerLine() const { return bytesPerLine_; }

  private:
    struct Buffer {
        void* address = nullptr;
        size_t length = 0;
    };
    bool ReadFormat(std::string* error);
    bool ApplyFramePeriod();
    void ReleaseBuffers();
    void Loop();
    // Copies a device buffer into `frame_` without row padding; false when it holds less than a frame.
    bool Unpad(const uint8_t* data, size_t used);
    void Fail(int code, const std::string& text);

    std::shared_ptr<V4l2Layer> layer_;
    std::string path_, name_;
    int fd_ = -1;
    uint32_t fourcc_ = 0;
    int width_ = 0, height_ = 0;
    int bytesPerLine_ = 0;
    std::atomic<int64_t> period_{33333};
    std::atomic<bool> capturing_{false};
    std::atomic<bool> stopRequested_{false};
    std::vector<Buffer> buffers_;
    std::vector<uint8_t> frame_;
    std::thread thread_;
};

}  // namespace tessaro
