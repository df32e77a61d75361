#include "V4l2Source.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <numeric>

#ifdef TESSARO_HAVE_LIBV4L2
#include <libv4l2.h>
#endif

namespace tessaro {
namespace {

class SystemLayer : public V4l2Layer {
  public:
    int Open(const std::string& path) override {
#ifdef TESSARO_HAVE_LIBV4L2
        return v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
#else
        return open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
#endif
    }
    int Close(int fd) override {
#ifdef TESSARO_HAVE_LIBV4L2
        return v4l2_close(fd);
#else
        return close(fd);
#endif
    }
    int Ioctl(int fd, unsigned long request, void* argument) override {
#ifdef TESSARO_HAVE_LIBV4L2
        return v4l2_ioctl(fd, request, argument);
#else
        return ioctl(fd, request, argument);
#endif
    }
    void* Map(int fd, size_t length, int64_t offset) override {
#ifdef TESSARO_HAVE_LIBV4L2
        return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
#else
        return mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
#endif
    }
    int Unmap(void* address, size_t length) override {
#ifdef TESSARO_HAVE_LIBV4L2
        return v4l2_munmap(address, length);
#else
        return munmap(address, length);
#endif
    }
    int WaitReadable(int fd, int timeoutMs) override {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLIN)) {
            errno = (p.revents & POLLNVAL) ? EBADF : ENODEV;
            return -1;
        }
        return r;
    }
};

// An ioctl that is retried when a signal interrupts it.
int Xioctl(V4l2Layer& layer, int fd, unsigned long request, void* argument) {
    int r;
    do {
        r = layer.Ioctl(fd, request, argument);
    } while (r < 0 && errno == EINTR);
    return r;
}

// Capabilities of the node itself (not of the whole physical device) when the driver says them.
uint32_t NodeCaps(const v4l2_capability& caps) {
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

bool CanStreamCapture(const v4l2_capability& caps) {
    const uint32_t c = NodeCaps(caps);
    return (c & V4L2_CAP_VIDEO_CAPTURE) && (c & V4L2_CAP_STREAMING);
}

std::string CardName(const v4l2_capability& caps) {
    const char* card = reinterpret_cast<const char*>(caps.card);
    return std::string(card, strnlen(card, sizeof caps.card));
}

// Sizes of a stepwise or continuous range to list: the codec's standard sizes and common camera
// sizes inside it, plus its ends.
std::vector<FrameSize> SizesOfRange(const v4l2_frmsize_stepwise& range) {
    static const FrameSize kCandidates[] = {{128, 96},  {160, 120}, {176, 144},  {320, 240},   {352, 288},
                                            {640, 480}, {704, 576}, {1280, 720}, {1408, 1152}, {1920, 1080}};
    const auto fits = [&](int w, int h) {
        const uint32_t stepW = std::max<uint32_t>(range.step_width, 1),
                       stepH = std::max<uint32_t>(range.step_height, 1);
        return static_cast<uint32_t>(w) >= range.min_width && static_cast<uint32_t>(w) <= range.max_width &&
               static_cast<uint32_t>(h) >= range.min_height && static_cast<uint32_t>(h) <= range.max_height &&
               (static_cast<uint32_t>(w) - range.min_width) % stepW == 0 &&
               (static_cast<uint32_t>(h) - range.min_height) % stepH == 0;
    };
    std::vector<FrameSize> sizes;
    const FrameSize smallest{static_cast<int>(range.min_width), static_cast<int>(range.min_height)};
    const FrameSize largest{static_cast<int>(range.max_width), static_cast<int>(range.max_height)};
    sizes.push_back(smallest);
    for (const FrameSize& s : kCandidates) {
        if (fits(s.width, s.height) && !(s == smallest) && !(s == largest)) sizes.push_back(s);
    }
    if (!(largest == smallest)) sizes.push_back(largest);
    return sizes;
}

}  // namespace

std::shared_ptr<V4l2Layer> SystemV4l2Layer() {
    static const std::shared_ptr<V4l2Layer> layer = std::make_shared<SystemLayer>();
    return layer;
}

uint32_t FourccOfV4l2(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUV420:
            return kFourccI420;
        case V4L2_PIX_FMT_YVU420:
            return kFourccYV12;
        case V4L2_PIX_FMT_YUYV:
            return kFourccYUY2;
        case V4L2_PIX_FMT_UYVY:
            return kFourccUYVY;
        case V4L2_PIX_FMT_YVU410:
            return kFourccYVU9;
        case V4L2_PIX_FMT_Y41P:
            return kFourccY41P;
        case V4L2_PIX_FMT_BGR24:  // bytes B G R, the layout our RGB24 names
            return kFourccRGB24;
        default:
            return pixelFormat;
    }
}

uint32_t V4l2OfFourcc(uint32_t fourcc) {
    switch (fourcc) {
        case kFourccI420:
            return V4L2_PIX_FMT_YUV420;
        case kFourccYV12:
            return V4L2_PIX_FMT_YVU420;
        case kFourccYUY2:
            return V4L2_PIX_FMT_YUYV;
        case kFourccUYVY:
            return V4L2_PIX_FMT_UYVY;
        case kFourccYVU9:
            return V4L2_PIX_FMT_YVU410;
        case kFourccY41P:
            return V4L2_PIX_FMT_Y41P;
        case kFourccRGB24:
            return V4L2_PIX_FMT_BGR24;
        default:
            return fourcc;
    }
}

std::string DeviceOpenMessage(const std::string& path, int error) {
    switch (error) {
        case EBUSY:
            return "The video device " + path + " is busy (another program uses it)";
        case EACCES:
        case EPERM:
            return "No permission to open the video device " + path + " (is the user in the video group?)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "The video device " + path + " is not connected";
        default:
            return "Cannot open the video device " + path + ": " + std::strerror(error);
    }
}

std::vector<V4l2DeviceInfo> ListV4l2Devices(V4l2Layer& layer, const std::string& folder) {
    std::map<int, std::string> nodes;  // by number, so video10 comes after video2
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') continue;
            if (!std::all_of(name + 5, name + std::strlen(name),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            if (std::strlen(name + 5) > 6) continue;
            nodes[std::atoi(name + 5)] = folder + "/" + name;
        }
        closedir(dir);
    }
    std::vector<V4l2DeviceInfo> devices;
    for (const auto& [number, path] : nodes) {
        (void)number;
        const int fd = layer.Open(path);
        if (fd < 0) continue;  // busy or forbidden nodes are left out of the list
        v4l2_capability caps{};
        const bool usable = Xioctl(layer, fd, VIDIOC_QUERYCAP, &caps) == 0 && CanStreamCapture(caps);
        layer.Close(fd);
        if (usable) devices.push_back(V4l2DeviceInfo{path, CardName(caps)});
    }
    // Two cameras of one model: tell them apart by their node.
    std::map<std::string, int> uses;
    for (const V4l2DeviceInfo& d : devices) ++uses[d.name];
    for (V4l2DeviceInfo& d : devices) {
        if (d.name.empty()) {
            d.name = "Video device (" + d.path + ")";
        } else if (uses[d.name] > 1) {
            d.name += " (" + d.path + ")";
        }
    }
    return devices;
}

V4l2Source::V4l2Source(std::shared_ptr<V4l2Layer> layer, std::string path, std::string name)
    : layer_(std::move(layer)), path_(std::move(path)), name_(std::move(name)) {}

V4l2Source::~V4l2Source() {
    Stop();
    if (fd_ >= 0) layer_->Close(fd_);
}

bool V4l2Source::Open(std::string* error) {
    if (fd_ >= 0) return true;
    fd_ = layer_->Open(path_);
    if (fd_ < 0) {
        *error = DeviceOpenMessage(path_, errno);
        return false;
    }
    v4l2_capability caps{};
    if (Xioctl(*layer_, fd_, VIDIOC_QUERYCAP, &caps) != 0 || !CanStreamCapture(caps)) {
        *error = path_ + " is no video capture device with streaming";
        layer_->Close(fd_);
        fd_ = -1;
        return false;
    }
    if (name_.empty()) name_ = CardName(caps);
    if (!ReadFormat(error)) {
        layer_->Close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool V4l2Source::ReadFormat(std::string* error) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*layer_, fd_, VIDIOC_G_FMT, &format) != 0) {
        *error = "Cannot read the format of " + path_ + ": " + std::strerror(errno);
        return false;
    }
    fourcc_ = FourccOfV4l2(format.fmt.pix.pixelformat);
    width_ = static_cast<int>(format.fmt.pix.width);
    height_ = static_cast<int>(format.fmt.pix.height);
    bytesPerLine_ = static_cast<int>(format.fmt.pix.bytesperline);
    return true;
}

std::vector<SourceFormat> V4l2Source::Formats() const {
    std::vector<SourceFormat> formats;
    if (fd_ < 0) return formats;
    for (uint32_t index = 0; index < 64; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(*layer_, fd_, VIDIOC_ENUM_FMT, &desc) != 0) break;
        SourceFormat format;
        format.fourcc = FourccOfV4l2(desc.pixelformat);
        for (uint32_t s = 0; s < 256; ++s) {
            v4l2_frmsizeenum size{};
            size.index = s;
            size.pixel_format = desc.pixelformat;
            if (Xioctl(*layer_, fd_, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                format.sizes.push_back(
                    FrameSize{static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height)});
                continue;
            }
            format.sizes = SizesOfRange(size.stepwise);
            format.customSizes = true;
            format.minimum = FrameSize{static_cast<int>(size.stepwise.min_width),
                                       static_cast<int>(size.stepwise.min_height)};
            format.maximum = FrameSize{static_cast<int>(size.stepwise.max_width),
                                       static_cast<int>(size.stepwise.max_height)};
            break;
        }
        // A driver that lists no sizes still has the current one.
        if (format.sizes.empty()) format.sizes.push_back(FrameSize{width_, height_});
        formats.push_back(format);
    }
    return formats;
}

bool V4l2Source::SetFormat(uint32_t fourcc, int width, int height, std::string* error) {
    if (capturing_.load()) {
        *error = "The format cannot change while the source is capturing";
        return false;
    }
    if (fd_ < 0) {
        *error = "The video device " + path_ + " is not open";
        return false;
    }
    if (width <= 0 || height <= 0) {
        *error = "Invalid picture size " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = V4l2OfFourcc(fourcc);
    format.fmt.pix.width = static_cast<uint32_t>(width);
    format.fmt.pix.height = static_cast<uint32_t>(height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (Xioctl(*layer_, fd_, VIDIOC_S_FMT, &format) != 0) {
        *error = (errno == EBUSY ? "The video device " + path_ + " is busy"
                                 : "The video device " + path_ + " refused the format " + FourccText(fourcc) +
                                       " " + std::to_string(width) + "x" + std::to_string(height) + ": " +
                                       std::strerror(errno));
        return false;
    }
    if (FourccOfV4l2(format.fmt.pix.pixelformat) != fourcc) {
        // The driver answers with a format of its choice when it lacks the one asked for.
        std::string ignored;
        ReadFormat(&ignored);
        *error = "The video device " + path_ + " does not offer the format " + FourccText(fourcc);
        return false;
    }
    fourcc_ = fourcc;
    width_ = static_cast<int>(format.fmt.pix.width);
    height_ = static_cast<int>(format.fmt.pix.height);
    bytesPerLine_ = static_cast<int>(format.fmt.pix.bytesperline);
    return true;
}

void V4l2Source::SetFramePeriod(int64_t microseconds) {
    period_.store(std::max<int64_t>(microseconds, 0));
    if (fd_ >= 0) ApplyFramePeriod();
}

bool V4l2Source::ApplyFramePeriod() {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*layer_, fd_, VIDIOC_G_PARM, &parm) != 0) return false;
    if (!(parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME))
        return false;  // the device keeps its own rate
    const int64_t period = period_.load();
    if (period <= 0) return true;  // as fast as it goes: whatever the device has
    // The period as a reduced fraction of a second.
    const int64_t divisor = std::gcd(period, int64_t{1000000});
    parm.parm.capture.timeperframe.numerator = static_cast<uint32_t>(period / divisor);
    parm.parm.capture.timeperframe.denominator = static_cast<uint32_t>(1000000 / divisor);
    return Xioctl(*layer_, fd_, VIDIOC_S_PARM, &parm) == 0;
}

bool V4l2Source::Start(std::string* error) {
    if (capturing_.load()) {
        *error = "The source is already capturing";
        return false;
    }
    Stop();  // leftovers of a run that failed
    if (fd_ < 0 && !Open(error)) return false;
    if (FrameBytesOf(fourcc_, width_, height_) == 0 && width_ <= 0) {
        *error = "The video device " + path_ + " has no picture size";
        return false;
    }
    ApplyFramePeriod();
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(*layer_, fd_, VIDIOC_REQBUFS, &request) != 0) {
        *error = errno == EBUSY ? "The video device " + path_ + " is busy (another program uses it)"
                                : "The video device " + path_ + " cannot stream: " + std::strerror(errno);
        return false;
    }
    if (request.count < 2) {
        *error = "The video device " + path_ + " gave too few frame buffers";
        ReleaseBuffers();
        return false;
    }
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(*layer_, fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            *error = "The video device " + path_ + " cannot share its buffers: " + std::strerror(errno);
            ReleaseBuffers();
            return false;
        }
        void* address = layer_->Map(fd_, buffer.length, buffer.m.offset);
        if (address == MAP_FAILED) {
            *error = "The video device " + path_ + " cannot map its buffers: " + std::strerror(errno);
            ReleaseBuffers();
            return false;
        }
        buffers_.push_back(Buffer{address, buffer.length});
        if (Xioctl(*layer_, fd_, VIDIOC_QBUF, &buffer) != 0) {
            *error = "The video device " + path_ + " refused a buffer: " + std::strerror(errno);
            ReleaseBuffers();
            return false;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*layer_, fd_, VIDIOC_STREAMON, &type) != 0) {
        *error = "The video device " + path_ + " cannot start streaming: " + std::strerror(errno);
        ReleaseBuffers();
        return false;
    }
    frame_.assign(FrameBytesOf(fourcc_, width_, height_), 0);
    stopRequested_.store(false);
    capturing_.store(true);
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void V4l2Source::Stop() {
    stopRequested_.store(true);
    if (thread_.joinable()) thread_.join();
    capturing_.store(false);
    if (fd_ >= 0 && !buffers_.empty()) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Xioctl(*layer_, fd_, VIDIOC_STREAMOFF, &type);
    }
    ReleaseBuffers();
}

void V4l2Source::ReleaseBuffers() {
    for (const Buffer& b : buffers_) layer_->Unmap(b.address, b.length);
    const bool had = !buffers_.empty();
    buffers_.clear();
    if (fd_ >= 0 && had) {
        v4l2_requestbuffers request{};
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        Xioctl(*layer_, fd_, VIDIOC_REQBUFS, &request);
    }
}

bool V4l2Source::Unpad(const uint8_t* data, size_t used) {
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t pixelBytes = fourcc_ == kFourccRGB24 ? 3 : (BitsPerPixelOf(fourcc_) == 16 ? 2 : 1);
    const size_t stride = std::max(static_cast<size_t>(bytesPerLine_), w * pixelBytes);
    if (fourcc_ == kFourccI420 || fourcc_ == kFourccYV12) {
        // Planes follow one another; chroma rows have half the luma stride.
        const size_t cw = w / 2, ch = h / 2, chromaStride = stride / 2;
        if (used < stride * h + 2 * chromaStride * ch) return false;
        uint8_t* out = frame_.data();
        for (size_t row = 0; row < h; ++row, out += w) std::memcpy(out, data + row * stride, w);
        const uint8_t* plane = data + stride * h;
        for (int p = 0; p < 2; ++p, plane += chromaStride * ch) {
            for (size_t row = 0; row < ch; ++row, out += cw) std::memcpy(out, plane + row * chromaStride, cw);
        }
        return true;
    }
    if (BitsPerPixelOf(fourcc_) == 0) {
        // A format of the device's own: handed on as delivered.
        frame_.assign(data, data + used);
        return used > 0;
    }
    const size_t rowBytes = w * pixelBytes;
    if (used < stride * (h - 1) + rowBytes) return false;
    for (size_t row = 0; row < h; ++row)
        std::memcpy(frame_.data() + row * rowBytes, data + row * stride, rowBytes);
    return true;
}

void V4l2Source::Fail(int code, const std::string& text) {
    ReportError(code, text);
    capturing_.store(false);
}

void V4l2Source::Loop() {
    constexpr int kWaitMs = 100;
    int waited = 0;
    uint64_t sequence = 0;
    while (!stopRequested_.load()) {
        const int ready = layer_->WaitReadable(fd_, kWaitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            Fail(code, code == ENODEV
                           ? "The video device " + path_ + " was disconnected"
                           : "Waiting for the video device " + path_ + " failed: " + std::strerror(code));
            return;
        }
        if (ready == 0) {
            waited += kWaitMs;
            if (waited >= kStallTimeoutMs) {
                Fail(ETIMEDOUT, "The video device " + path_ + " delivers no frames");
                return;
            }
            continue;
        }
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(*layer_, fd_, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN) continue;
            const int code = errno;
            Fail(code, code == ENODEV
                           ? "The video device " + path_ + " was disconnected"
                           : "Reading from the video device " + path_ + " failed: " + std::strerror(code));
            return;
        }
        waited = 0;
        if (buffer.index >= buffers_.size()) {
            Fail(EIO, "The video device " + path_ + " returned an unknown buffer");
            return;
        }
        const Buffer& mapped = buffers_[buffer.index];
        const size_t used =
            std::min<size_t>(buffer.bytesused ? buffer.bytesused : mapped.length, mapped.length);
        // Damaged or short buffers are dropped: only whole frames go on.
        if (!(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
            Unpad(static_cast<const uint8_t*>(mapped.address), used)) {
            CapturedFrame frame;
            frame.data = frame_.data();
            frame.size = frame_.size();
            frame.fourcc = fourcc_;
            frame.width = width_;
            frame.height = height_;
            frame.sequence = sequence++;
            Deliver(frame);
        }
        if (Xioctl(*layer_, fd_, VIDIOC_QBUF, &buffer) != 0) {
            const int code = errno;
            Fail(code, code == ENODEV
                           ? "The video device " + path_ + " was disconnected"
                           : "The video device " + path_ + " refused a buffer: " + std::strerror(code));
            return;
        }
    }
}

}  // namespace tessaro
