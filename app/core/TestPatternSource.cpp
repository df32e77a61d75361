#include "TestPatternSource.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "ClrConv.h"

namespace tessaro {
namespace {

using Clock = std::chrono::steady_clock;

const uint32_t kOffered[] = {kFourccI420, kFourccYV12, kFourccYUY2, kFourccUYVY, kFourccRGB24};

// The five picture formats of the codec and two common camera sizes.
const FrameSize kListedSizes[] = {{128, 96},    {176, 144}, {352, 288}, {704, 576},
                                  {1408, 1152}, {320, 240}, {640, 480}};

// 75 % colour bars as (Y, Cb, Cr): white, yellow, cyan, green, magenta, red, blue, black.
const uint8_t kBars[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                             {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

// Position of a point that moves one unit per tick and bounces inside 0..range.
int Bounce(uint64_t t, int range) {
    if (range <= 0) return 0;
    const uint64_t span = 2 * static_cast<uint64_t>(range);
    const int phase = static_cast<int>(t % span);
    return phase <= range ? phase : static_cast<int>(span) - phase;
}

// Frame k as planar 4:2:0 (Y, Cb, Cr).
void RenderI420(int width, int height, uint64_t k, uint8_t* out) {
    const int cw = width / 2, ch = height / 2;
    uint8_t* y = out;
    uint8_t* cb = out + static_cast<size_t>(width) * height;
    uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
    const uint64_t shift = 2 * k;
    const auto bar = [&](int x) { return static_cast<int>(((x + shift) % width) * 8 / width); };
    const int box = std::max(4, std::min(width, height) / 4) & ~1;
    const int boxX = Bounce(3 * k, width - box) & ~1, boxY = Bounce(2 * k, height - box) & ~1;
    const auto inBox = [&](int px, int py) {
        return px >= boxX && px < boxX + box && py >= boxY && py < boxY + box;
    };
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            uint8_t value = kBars[bar(col)][0];
            if (inBox(col, row)) value = (((col - boxX) / 4 + (row - boxY) / 4) & 1) ? 235 : 40;
            y[static_cast<size_t>(row) * width + col] = value;
        }
    }
    for (int row = 0; row < ch; ++row) {
        for (int col = 0; col < cw; ++col) {
            const size_t at = static_cast<size_t>(row) * cw + col;
            const bool boxed = inBox(2 * col, 2 * row);
            cb[at] = boxed ? 128 : kBars[bar(2 * col)][1];
            cr[at] = boxed ? 128 : kBars[bar(2 * col)][2];
        }
    }
}

// Packs a planar 4:2:0 picture as 4:2:2 with the byte offsets of Y0, Cb and Cr in a pixel pair.
void Pack422(const uint8_t* planar, int width, int height, int lumaAt, int cbAt, int crAt, uint8_t* out) {
    const int cw = width / 2, ch = height / 2;
    const uint8_t* cb = planar + static_cast<size_t>(width) * height;
    const uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
    for (int row = 0; row < height; ++row) {
        const int chromaRow = std::min(row / 2, ch - 1);
        uint8_t* line = out + static_cast<size_t>(row) * width * 2;
        for (int pair = 0; pair < width / 2; ++pair) {
            uint8_t* p = line + 4 * pair;
            p[lumaAt] = planar[static_cast<size_t>(row) * width + 2 * pair];
            p[lumaAt + 2] = planar[static_cast<size_t>(row) * width + 2 * pair + 1];
            p[cbAt] = cb[static_cast<size_t>(chromaRow) * cw + pair];
            p[crAt] = cr[static_cast<size_t>(chromaRow) * cw + pair];
        }
    }
}

bool Offered(uint32_t fourcc) {
    return std::find(std::begin(kOffered), std::end(kOffered), fourcc) != std::end(kOffered);
}

}  // namespace

TestPatternSource::TestPatternSource() = default;

TestPatternSource::~TestPatternSource() {
    Stop();
}

std::vector<SourceFormat> TestPatternSource::Formats() const {
    std::vector<SourceFormat> formats;
    for (uint32_t fourcc : kOffered) {
        SourceFormat format;
        format.fourcc = fourcc;
        format.sizes.assign(std::begin(kListedSizes), std::end(kListedSizes));
        format.customSizes = true;
        format.minimum = kMinimumSize;
        format.maximum = kMaximumSize;
        formats.push_back(format);
    }
    return formats;
}

bool TestPatternSource::SetFormat(uint32_t fourcc, int width, int height, std::string* error) {
    if (capturing_.load()) {
        *error = "The format cannot change while the source is capturing";
        return false;
    }
    if (!Offered(fourcc)) {
        *error = "The test pattern does not offer the format " + FourccText(fourcc);
        return false;
    }
    if (width < kMinimumSize.width || width > kMaximumSize.width || height < kMinimumSize.height ||
        height > kMaximumSize.height || width % 2 != 0 || height % 2 != 0) {
        *error = "The test pattern offers even sizes from 16x16 to 2048x1152, not " + std::to_string(width) +
                 "x" + std::to_string(height);
        return false;
    }
    fourcc_ = fourcc;
    width_ = width;
    height_ = height;
    return true;
}

void TestPatternSource::SetFramePeriod(int64_t microseconds) {
    period_.store(std::max<int64_t>(microseconds, 0));
    std::lock_guard<std::mutex> lock(mutex_);
    ++periodGeneration_;
    wake_.notify_all();
}

void TestPatternSource::FailAfter(uint64_t frames, int code, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    failArmed_ = true;
    failAfter_ = frames;
    failCode_ = code;
    failText_ = text;
}

bool TestPatternSource::Start(std::string* error) {
    if (capturing_.load()) {
        *error = "The source is already capturing";
        return false;
    }
    if (thread_.joinable()) thread_.join();  // a run that ended by itself (failure)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
    }
    capturing_.store(true);
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void TestPatternSource::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    capturing_.store(false);
}

void TestPatternSource::Render(uint32_t fourcc, int width, int height, uint64_t k, uint8_t* out) {
    const size_t planarBytes = FrameBytesOf(kFourccI420, width, height);
    if (fourcc == kFourccI420) {
        RenderI420(width, height, k, out);
        return;
    }
    std::vector<uint8_t> planar(planarBytes);
    RenderI420(width, height, k, planar.data());
    const size_t luma = static_cast<size_t>(width) * height;
    const size_t chroma = static_cast<size_t>(width / 2) * (height / 2);
    switch (fourcc) {
        case kFourccYV12:
            std::memcpy(out, planar.data(), luma);
            std::memcpy(out + luma, planar.data() + luma + chroma, chroma);
            std::memcpy(out + luma + chroma, planar.data() + luma, chroma);
            break;
        case kFourccYUY2:
            Pack422(planar.data(), width, height, 0, 1, 3, out);
            break;
        case kFourccUYVY:
            Pack422(planar.data(), width, height, 1, 0, 2, out);
            break;
        case kFourccRGB24: {
            // The converter writes bottom-up rows; this format is top-down.
            std::vector<uint8_t> bottomUp(luma * 3);
            clrconv::ConvertI420ToRgb24(planar.data(), bottomUp.data(), width, height, static_cast<int>(luma),
                                        0);
            const size_t rowBytes = static_cast<size_t>(width) * 3;
            for (int row = 0; row < height; ++row) {
                std::memcpy(out + row * rowBytes, bottomUp.data() + (height - 1 - row) * rowBytes, rowBytes);
            }
            break;
        }
        default:
            break;
    }
}

void TestPatternSource::Loop() {
    const uint32_t fourcc = fourcc_;
    const int width = width_, height = height_;
    std::vector<uint8_t> frame(FrameBytesOf(fourcc, width, height));
    Clock::time_point due = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (uint64_t k = 0;; ++k) {
        const int64_t period = period_.load();
        if (k > 0 && period > 0) {
            due += std::chrono::microseconds(period);
            // After a stall (or a longer period asked for) start counting from now, without a burst.
            if (due < Clock::now() - std::chrono::microseconds(period)) due = Clock::now();
            const uint64_t generation = periodGeneration_;
            wake_.wait_until(lock, due, [&] { return stopRequested_ || periodGeneration_ != generation; });
            if (!stopRequested_ && periodGeneration_ != generation) {
                // A new period: the next frame is due one new period after the last one.
                due = Clock::now();
                --k;
                continue;
            }
        }
        if (stopRequested_) break;
        if (failArmed_ && k >= failAfter_) {
            failArmed_ = false;
            const int code = failCode_;
            const std::string text = failText_;
            lock.unlock();
            // The error arrives while the source still counts as capturing, as a device reports it.
            ReportError(code, text);
            capturing_.store(false);
            return;
        }
        lock.unlock();
        Render(fourcc, width, height, k, frame.data());
        CapturedFrame delivered;
        delivered.data = frame.data();
        delivered.size = frame.size();
        delivered.fourcc = fourcc;
        delivered.width = width;
        delivered.height = height;
        delivered.sequence = k;
        Deliver(delivered);
        lock.lock();
    }
}

}  // namespace tessaro
