// The capture job: live frames of a frame source saved as a raw YUV 4:2:0 sequence, or encoded
// as they arrive into an H.263+ bitstream ("capture and encoding").
//
// A CaptureJob holds one connected source for its whole life (the capture window's connection,
// or one command-line run). The source may stream without a capture for the live picture; a
// capture takes the frames that arrive while it runs. Frames are handled in the source's frame
// callback, on the source's thread; the end of a run (its last frame, a stop, a failed write, a
// source failure) is finished on the job's worker thread, which closes the files and logs the
// stop lines. Observer calls therefore come from these threads and the caller's, one at a time
// and in order.
//
// Output files are written under a temporary name beside the target and renamed over it when the
// run ends, so an existing file stays intact until it is replaced; a file the workbench has open
// as an input is never written. A device node (such as /dev/full) is written directly.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FrameSource.h"
#include "Job.h"
#include "OutputFiles.h"
#include "R263AVO.h"
#include "Settings.h"

namespace tessaro {

// The formats a capture takes, and the message for the others.
bool CaptureFormatAccepted(uint32_t fourcc);
extern const char* const kCaptureFormatRefusal;

// The figure of the bitrate pane: width x height x bits per pixel x frame rate / 1024.
double CaptureBitrateKbps(int width, int height, int bitsPerPixel, double frameRate);
// The texts of the capture window's four status panes.
std::string FormatPaneText(uint32_t fourcc, int bitsPerPixel);  // "I420", "RGB24", "Unknown", ...
std::string SizePaneText(int width, int height);                // "176x144"
std::string BitratePaneText(double kbps);                       // "594 Kbps", "2.3 Mbps"
std::string FramePaneText(int frameCounter, double frameRate);  // "37" while counting, else "30.0 fps"
// Frame period of a frame rate in whole microseconds (truncated).
int64_t FramePeriodOfRate(double frameRate);

// A JobObserver that also receives the source's errors (the "Driver Warning" message box).
class CaptureObserver : public JobObserver {
  public:
    virtual void DriverWarning(int code, const std::string& text) {
        (void)code;
        Error("Driver Warning: " + text);
    }
};

struct CaptureConfig {
    std::string outputPath;
    bool encode = false;  // capture and encoding; otherwise raw capture
    // General part and encoder parameters (EndFrame, FrameRateActual, IFramePeriod, Bitrate, ...);
    // StartFrame is always 0 and the picture facts come from the source.
    CodecSettings settings;
    double frameRate = 30.0;                  // the window's frame rate, for the start line
    int frameLimit = -1;                      // raw capture: end after this many frames (-1: until stopped)
    std::vector<std::string> protectedPaths;  // inputs that the output must never replace
};

class CaptureJob : public Job {
  public:
    // How the last run ended.
    enum class End { kNone, kCompleted, kStopped, kWriteFailed, kEncoderFailed, kSourceFailed };

    explicit CaptureJob(std::unique_ptr<FrameSource> source);
    ~CaptureJob() override;

    FrameSource& source() { return *source_; }

    // Streams the source for the live picture (no capture). Idempotent.
    bool StartPreview(std::string* error);
    // Ends streaming that no capture needs.
    void StopPreview();
    // New format and size (refused while capturing); the live picture restarts with it.
    bool SetFormat(uint32_t fourcc, int width, int height, std::string* error);
    // Sets the source's frame period from a frame rate; also while capturing.
    void SetFrameRate(double frameRate);
    // Receives driver warnings while no capture runs (preview).
    void SetIdleObserver(CaptureObserver* observer);

    // Starts a raw capture or a capture and encoding. False with the message for the user when
    // the format is refused, the encoder cannot open, the output cannot be created, or the source
    // cannot stream; nothing is written then. While a capture runs, does nothing and returns false
    // without a message.
    bool Start(const CaptureConfig& config, CaptureObserver& observer, std::string* error);
    // Stop Capture, or the window closing: ends the run at once.
    void StopCapture();
    // Job::Stop() is Stop Encoding: a capture and encoding run ends at its next encoded frame
    // (a raw capture at once).

    bool Capturing() const { return capturing_.load(); }
    bool Encoding() const { return encoding_.load(); }
    int FrameCounter() const { return frameCounter_.load(); }
    End LastEnd() const { return end_.load(); }

    // The last frame the source delivered, as planar 4:2:0 (for the live picture); returns its
    // serial number (0: none yet) and leaves `out` alone when it has not changed since `known`.
    uint64_t LatestFrame(uint64_t known, std::vector<uint8_t>* out, int* width, int* height) const;
    // Called on the source's thread after every delivered frame with its serial number (the
    // overlay display shows each one).
    void SetFrameListener(std::function<void(uint64_t serial)> listener);

  private:
    void Run() override;
    void OnFrame(const CapturedFrame& frame);
    void OnError(int code, const std::string& text);
    // Planar 4:2:0 of a delivered frame (converted or reordered as needed); nullptr for formats
    // that cannot be converted.
    const uint8_t* ToI420(const CapturedFrame& frame);
    void CaptureFrame(const uint8_t* picture);
    int32_t SingleFrameStep(int n, const uint8_t* picture);
    void EndRun(End reason);
    bool OpenOutput(const std::string& path, const std::vector<std::string>& protectedPaths,
                    std::string* why);
    bool CommitOutput(uint64_t* bytes);
    // Close the files and log the stop lines; true when the run ended as it should.
    bool FinishRaw(End reason);
    bool FinishEncoding(End reason);

    std::unique_ptr<FrameSource> source_;
    uint32_t cpuFeatures_ = 0;

    // The run. Set by Start before capturing_; read by the callback while capturing_.
    CaptureConfig config_;
    CaptureObserver* observer_ = nullptr;
    CaptureObserver* idleObserver_ = nullptr;
    OutputFile output_;
    size_t frameBytes_ = 0;
    int width_ = 0, height_ = 0;
    bool sourceStartedByRun_ = false;
    struct EncoderDeleter {
        void operator()(r263avo::Encoder* e) const { r263avo::EncoderDestroy(e); }
    };
    std::unique_ptr<r263avo::Encoder, EncoderDeleter> encoder_;
    int nextFrame_ = 0, skipped_ = 0, endFrame_ = 0;
    double sumY_ = 0.0, sumU_ = 0.0, sumV_ = 0.0;
    int snrFrames_ = 0;
    std::string writeError_;
    std::string failure_;  // what ended a failed run

    // Shared between the interface thread, the source's thread and the worker.
    std::atomic<bool> capturing_{false};
    std::atomic<bool> encoding_{false};
    std::atomic<int> frameCounter_{0};
    std::atomic<End> end_{End::kNone};

    std::mutex frameMutex_;  // held while a frame is captured; guards the run's state
    std::mutex runMutex_;    // guards the end signal
    std::condition_variable runChanged_;
    bool stopNow_ = false;

    mutable std::mutex latestMutex_;
    std::vector<uint8_t> latest_;
    int latestWidth_ = 0, latestHeight_ = 0;
    uint64_t latestSerial_ = 0;
    std::vector<uint8_t> convert_;
    std::function<void(uint64_t)> listener_;
    std::mutex listenerMutex_;
};

}  // namespace tessaro
