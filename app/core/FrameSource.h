// Live frame sources: capture devices and the built-in test pattern.
//
// A source delivers whole frames of one FOURCC and size to a frame callback, on a thread of its
// own, at the frame period asked for (a device may round it to what it can do). Problems while
// streaming (device unplugged, a failed read) reach the error callback with a code and a text;
// the source then stops delivering and Capturing() turns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessaro {

constexpr uint32_t MakeFourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr uint32_t kFourccI420 = MakeFourcc('I', '4', '2', '0');  // planar 4:2:0, Y U V
constexpr uint32_t kFourccYV12 = MakeFourcc('Y', 'V', '1', '2');  // planar 4:2:0, Y V U
constexpr uint32_t kFourccYUY2 = MakeFourcc('Y', 'U', 'Y', '2');  // packed 4:2:2, Y0 U Y1 V
constexpr uint32_t kFourccUYVY = MakeFourcc('U', 'Y', 'V', 'Y');  // packed 4:2:2, U Y0 V Y1
constexpr uint32_t kFourccYVU9 = MakeFourcc('Y', 'V', 'U', '9');
constexpr uint32_t kFourccY41P = MakeFourcc('Y', '4', '1', 'P');
// Uncompressed 24-bit pixels, bytes B G R, rows top-down.
constexpr uint32_t kFourccRGB24 = MakeFourcc('R', 'G', 'B', '3');

// The four characters of a code ("I420"); "RGB24" for kFourccRGB24; non-printable bytes as '?'.
std::string FourccText(uint32_t fourcc);
// Inverse of FourccText, case-insensitive for the names above ("i420", "yuy2", "rgb24"); any
// other four printable characters are taken as they are. 0 when the text is no code.
uint32_t ParseFourcc(const std::string& text);
// Bits per pixel of the formats above (12, 16 or 24), 0 for others.
int BitsPerPixelOf(uint32_t fourcc);
// Bytes of one whole frame in the formats above, 0 for others.
size_t FrameBytesOf(uint32_t fourcc, int width, int height);

struct FrameSize {
    int width = 0, height = 0;
    bool operator==(const FrameSize&) const = default;
};

// One pixel format a source offers, with the sizes to choose from.
struct SourceFormat {
    uint32_t fourcc = 0;
    std::vector<FrameSize> sizes;
    bool customSizes = false;  // other sizes inside [minimum, maximum] are accepted too
    FrameSize minimum, maximum;
};

// One delivered frame; `data` is valid only during the callback.
struct CapturedFrame {
    const uint8_t* data = nullptr;
    size_t size = 0;  // FrameBytesOf(fourcc, width, height) for the known formats
    uint32_t fourcc = 0;
    int width = 0, height = 0;
    uint64_t sequence = 0;  // counts the frames delivered since Start, from 0
};

class FrameSource {
  public:
    using FrameCallback = std::function<void(const CapturedFrame&)>;
    using ErrorCallback = std::function<void(int code, const std::string& text)>;

    virtual ~FrameSource() = default;
    FrameSource() = default;
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // The name shown in source lists.
    virtual std::string Name() const = 0;
    // What the source can deliver.
    virtual std::vector<SourceFormat> Formats() const = 0;
    // Chooses format and size; a device may settle on a nearby size, which fourcc()/width()/
    // height() then tell. Refused (false with a message) while capturing or when the format is not
    // offered.
    virtual bool SetFormat(uint32_t fourcc, int width, int height, std::string* error) = 0;
    virtual uint32_t fourcc() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Time between frames in microseconds (0: as fast as the source can). Takes effect at once,
    // also while capturing.
    virtual void SetFramePeriod(int64_t microseconds) = 0;
    virtual int64_t FramePeriod() const = 0;

    // Install before Start; they are called on the source's thread.
    void SetFrameCallback(FrameCallback callback);
    void SetErrorCallback(ErrorCallback callback);

    // Starts delivering frames; false with a message when the source cannot stream.
    virtual bool Start(std::string* error) = 0;
    // Stops delivering; when it returns no callback runs any more. Must not be called from a
    // callback.
    virtual void Stop() = 0;
    virtual bool Capturing() const = 0;

  protected:
    void Deliver(const CapturedFrame& frame);
    void ReportError(int code, const std::string& text);

  private:
    std::mutex callbackMutex_;
    FrameCallback onFrame_;
    ErrorCallback onError_;
};

// An entry of the source list.
struct SourceInfo {
    std::string name;    // shown to the user
    std::string device;  // device node, empty for the test pattern
    bool testPattern = false;
};

// The capture devices under `deviceFolder` (video0, video1, ... in number order) that can stream
// frames, then the test pattern, which is always there.
std::vector<SourceInfo> ListSources(const std::string& deviceFolder = "/dev");

// Connects to a listed source; nullptr with a message when the device cannot be opened.
std::unique_ptr<FrameSource> OpenSource(const SourceInfo& info, std::string* error);

// The source whose name or device node is `name` (empty: the first in the list).
std::unique_ptr<FrameSource> OpenSourceNamed(const std::string& name, std::string* error,
                                             const std::string& deviceFolder = "/dev");

}  // namespace tessaro
