#include "FrameSource.h"

#include <algorithm>
#include <cctype>

#include "TestPatternSource.h"
#include "V4l2Source.h"

namespace tessaro {

std::string FourccText(uint32_t fourcc) {
    if (fourcc == kFourccRGB24) return "RGB24";
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        if (std::isprint(static_cast<unsigned char>(c))) text[static_cast<size_t>(i)] = c;
    }
    return text;
}

uint32_t ParseFourcc(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "RGB24") return kFourccRGB24;
    for (uint32_t known : {kFourccI420, kFourccYV12, kFourccYUY2, kFourccUYVY, kFourccYVU9, kFourccY41P}) {
        if (upper == FourccText(known)) return known;
    }
    if (text.size() != 4) return 0;
    for (char c : text) {
        if (!std::isprint(static_cast<unsigned char>(c))) return 0;
    }
    return MakeFourcc(text[0], text[1], text[2], text[3]);
}

int BitsPerPixelOf(uint32_t fourcc) {
    switch (fourcc) {
        case kFourccI420:
        case kFourccYV12:
            return 12;
        case kFourccYUY2:
        case kFourccUYVY:
            return 16;
        case kFourccRGB24:
            return 24;
        default:
            return 0;
    }
}

size_t FrameBytesOf(uint32_t fourcc, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    switch (fourcc) {
        case kFourccI420:
        case kFourccYV12:
            // Chroma planes of (width/2) x (height/2), as the raw sequence files have them.
            return pixels + 2 * (static_cast<size_t>(width / 2) * static_cast<size_t>(height / 2));
        case kFourccYUY2:
        case kFourccUYVY:
            return pixels * 2;
        case kFourccRGB24:
            return pixels * 3;
        default:
            return 0;
    }
}

void FrameSource::SetFrameCallback(FrameCallback callback) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onFrame_ = std::move(callback);
}

void FrameSource::SetErrorCallback(ErrorCallback callback) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onError_ = std::move(callback);
}

void FrameSource::Deliver(const CapturedFrame& frame) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    if (onFrame_) onFrame_(frame);
}

void FrameSource::ReportError(int code, const std::string& text) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    if (onError_) onError_(code, text);
}

std::vector<SourceInfo> ListSources(const std::string& deviceFolder) {
    std::vector<SourceInfo> sources;
    const std::shared_ptr<V4l2Layer> layer = SystemV4l2Layer();
    for (const V4l2DeviceInfo& device : ListV4l2Devices(*layer, deviceFolder)) {
        sources.push_back(SourceInfo{device.name, device.path, false});
    }
    sources.push_back(SourceInfo{TestPatternSource::kName, "", true});
    return sources;
}

std::unique_ptr<FrameSource> OpenSource(const SourceInfo& info, std::string* error) {
    if (info.testPattern) return std::make_unique<TestPatternSource>();
    auto device = std::make_unique<V4l2Source>(SystemV4l2Layer(), info.device, info.name);
    if (!device->Open(error)) return nullptr;
    return device;
}

std::unique_ptr<FrameSource> OpenSourceNamed(const std::string& name, std::string* error,
                                             const std::string& deviceFolder) {
    const std::vector<SourceInfo> sources = ListSources(deviceFolder);
    for (const SourceInfo& info : sources) {
        if (name.empty() || info.name == name || (!info.device.empty() && info.device == name)) {
            return OpenSource(info, error);
        }
    }
    std::string known;
    for (const SourceInfo& info : sources) known += (known.empty() ? "" : ", ") + info.name;
    *error = "No video source named " + name + " (there are: " + known + ")";
    return nullptr;
}

}  // namespace tessaro
