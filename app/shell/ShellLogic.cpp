#include "ShellLogic.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tessaro::shell {

int PlaybackPeriodMs(int frameRateIndex) {
    static const int periods[6] = {33, 40, 66, 83, 100, 125};
    return frameRateIndex >= 0 && frameRateIndex < 6 ? periods[frameRateIndex] : periods[0];
}

int PlaybackStartFrame(int current, int frameCount) {
    return current >= frameCount - 1 ? 0 : std::max(current, 0);
}

PlaybackStep PlaybackTick(int current, int frameCount) {
    PlaybackStep step;
    step.frame = current + 1;
    if (step.frame > frameCount - 1) {
        step.frame = std::max(frameCount - 1, 0);
        step.stop = true;
    }
    return step;
}

int ClampZoom(int zoom) {
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

int ZoomOfClientSize(int pictureWidth, int pictureHeight, int clientWidth, int clientHeight) {
    for (int z = kMinZoom; z <= kMaxZoom; ++z) {
        if (pictureWidth * z == clientWidth && pictureHeight * z == clientHeight) return z;
    }
    return 0;
}

namespace {
std::string Printf(const char* format, double a) {
    char text[64];
    std::snprintf(text, sizeof text, format, a);
    return text;
}
}  // namespace

std::string SizePaneText(int width, int height) {
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d", width, height);
    return text;
}

std::string BitratePaneText(double kbps) {
    return kbps / 1024.0 < 1.0 ? Printf("%.1f Kbps", kbps) : Printf("%.1f Mbps", kbps / 1024.0);
}

std::string RatePaneText(double frameRate, int currentFrame) {
    return currentFrame == 0 ? Printf("%0.1f fps", frameRate) : std::to_string(currentFrame);
}

std::string InputFormatName(int format) {
    static const char* names[6] = {"SUBQCIF", "QCIF", "CIF", "4CIF", "16CIF", "CUSTOM"};
    return format >= 1 && format <= 6 ? names[format - 1] : "";
}

std::vector<std::string> FrameRateListItems(float target) {
    if (target < 27.5f) return {"25.0", "12.5", "8.3"};
    return {"30.0", "15.0", "10.0"};
}

std::string RangeMessage(int minimum, int maximum) {
    char text[96];
    std::snprintf(text, sizeof text, "Please enter a number beween %d and %d", minimum, maximum);
    return text;
}

bool ParseFieldNumber(const std::string& text, int minimum, int maximum, int* value) {
    size_t begin = text.find_first_not_of(' ');
    size_t end = text.find_last_not_of(' ');
    if (begin == std::string::npos) return false;
    const std::string digits = text.substr(begin, end - begin + 1);
    char* stop = nullptr;
    errno = 0;
    const long long v = std::strtoll(digits.c_str(), &stop, 10);
    if (errno != 0 || stop == digits.c_str() || *stop != '\0') return false;
    if (v < minimum || v > maximum) return false;
    *value = static_cast<int>(v);
    return true;
}

PageCheck CheckFrameRange(int startFrame, int endFrame, int frameCount) {
    PageCheck check;
    const int last = frameCount - 1;
    if (startFrame > last) {
        check.ok = false;
        check.field = Field::kStart;
        check.message = RangeMessage(0, last);
    } else if (!(startFrame <= endFrame && endFrame <= last && endFrame - startFrame < 1000)) {
        check.ok = false;
        check.field = Field::kEnd;
        check.message = RangeMessage(startFrame, std::min(last, 999));
    }
    return check;
}

int MacroblockCount(int width, int height) {
    return std::max(1, static_cast<int>(static_cast<long long>(width) * height / 256));
}

PageCheck CheckSliceSize(int mblocksPerSlice, int width, int height) {
    PageCheck check;
    const int count = MacroblockCount(width, height);
    if (mblocksPerSlice < 1 || mblocksPerSlice > count) {
        check.ok = false;
        check.field = Field::kMBlocksPerSlice;
        check.message = RangeMessage(1, count);
    }
    return check;
}

}  // namespace tessaro::shell
