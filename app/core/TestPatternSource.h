// The built-in test pattern: a frame source that needs no device. It is always available, so
// capture can be tried and tested on a machine without a camera.
//
// Frame k after Start shows eight colour bars scrolled 2 pixels left per frame and a checkered
// box bouncing over them (3 pixels across and 2 down per frame); the content depends only on k
// and the size, so two runs give the same bytes. Every offered format carries the same picture:
// the packed 4:2:2 formats repeat each chroma row of the 4:2:0 picture, so unpacking them (even
// rows kept) gives the planar frame back exactly.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "FrameSource.h"

namespace tessaro {

class TestPatternSource : public FrameSource {
  public:
    static constexpr const char* kName = "Test Pattern";
    // Sizes accepted besides the listed ones: even widths and heights inside these bounds.
    static constexpr FrameSize kMinimumSize{16, 16};
    static constexpr FrameSize kMaximumSize{2048, 1152};

    TestPatternSource();
    ~TestPatternSource() override;

    std::string Name() const override { return kName; }
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

    // For trying out failures: after `frames` more frames of the next run, the source reports
    // (code, text) through the error callback and stops streaming, as an unplugged device does.
    void FailAfter(uint64_t frames, int code, const std::string& text);

    // Frame k of the pattern in the given format (FrameBytesOf bytes).
    static void Render(uint32_t fourcc, int width, int height, uint64_t k, uint8_t* out);

  private:
    void Loop();

    uint32_t fourcc_ = kFourccI420;
    int width_ = 176, height_ = 144;
    std::atomic<int64_t> period_{33333};
    std::atomic<bool> capturing_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;
    uint64_t periodGeneration_ = 0;
    bool failArmed_ = false;
    uint64_t failAfter_ = 0;
    int failCode_ = 0;
    std::string failText_;
    std::thread thread_;
};

}  // namespace tessaro
