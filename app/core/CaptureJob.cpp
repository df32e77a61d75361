#include "CaptureJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "CPUInfo.h"
#include "ClrConv.h"
#include "LargePages.h"
#include "OutputFiles.h"
#include "VideoFile.h"

namespace tessaro {

const char* const kCaptureFormatRefusal =
    "Please select one of the following formats in Video Format\n dialog (YUV12 is preferred): YUV12, YUY2, "
    "UYVY";

bool CaptureFormatAccepted(uint32_t fourcc) {
    return fourcc == kFourccI420 || fourcc == kFourccYV12 || fourcc == kFourccYUY2 || fourcc == kFourccUYVY;
}

double CaptureBitrateKbps(int width, int height, int bitsPerPixel, double frameRate) {
    return static_cast<double>(width) * height * bitsPerPixel * frameRate / 1024.0;
}

std::string FormatPaneText(uint32_t fourcc, int bitsPerPixel) {
    switch (fourcc) {
        case kFourccI420:
        case kFourccYV12:
        case kFourccYUY2:
        case kFourccYVU9:
        case kFourccY41P:
            return FourccText(fourcc);
        case kFourccRGB24:
            return Format("RGB%d", bitsPerPixel);
        default:
            return "Unknown";
    }
}

std::string SizePaneText(int width, int height) {
    return Format("%dx%d", width, height);
}

std::string BitratePaneText(double kbps) {
    if (kbps / 1024.0 < 1.0) return Format("%d Kbps", static_cast<int>(kbps));
    return Format("%.1f Mbps", kbps / 1024.0);
}

std::string FramePaneText(int frameCounter, double frameRate) {
    if (frameCounter != 0) return Format("%d", frameCounter);
    return Format("%0.1f fps", frameRate);
}

int64_t FramePeriodOfRate(double frameRate) {
    if (!(frameRate > 0.0)) return 0;
    return static_cast<int64_t>(1000000.0 / frameRate);
}

CaptureJob::CaptureJob(std::unique_ptr<FrameSource> source)
    : source_(std::move(source)), cpuFeatures_(cpuinfo::DetectCpu()) {
    source_->SetFrameCallback([this](const CapturedFrame& frame) { OnFrame(frame); });
    source_->SetErrorCallback([this](int code, const std::string& text) { OnError(code, text); });
}

CaptureJob::~CaptureJob() {
    StopCapture();
    StopAndJoin();
    source_->Stop();
    source_->SetFrameCallback(nullptr);
    source_->SetErrorCallback(nullptr);
}

bool CaptureJob::StartPreview(std::string* error) {
    if (source_->Capturing()) return true;
    return source_->Start(error);
}

void CaptureJob::StopPreview() {
    if (!capturing_.load()) source_->Stop();
}

bool CaptureJob::SetFormat(uint32_t fourcc, int width, int height, std::string* error) {
    if (capturing_.load()) {
        *error = "The format cannot change while a capture runs";
        return false;
    }
    const bool streaming = source_->Capturing();
    if (streaming) source_->Stop();
    const bool changed = source_->SetFormat(fourcc, width, height, error);
    if (streaming) {
        std::string restartError;
        if (!source_->Start(&restartError) && changed) {
            *error = restartError;
            return false;
        }
    }
    return changed;
}

void CaptureJob::SetFrameRate(double frameRate) {
    source_->SetFramePeriod(FramePeriodOfRate(frameRate));
}

void CaptureJob::SetIdleObserver(CaptureObserver* observer) {
    std::lock_guard<std::mutex> lock(frameMutex_);
    idleObserver_ = observer;
}

void CaptureJob::SetFrameListener(std::function<void(uint64_t)> listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

uint64_t CaptureJob::LatestFrame(uint64_t known, std::vector<uint8_t>* out, int* width, int* height) const {
    std::lock_guard<std::mutex> lock(latestMutex_);
    if (latestSerial_ != known && latestSerial_ != 0) {
        *out = latest_;
        *width = latestWidth_;
        *height = latestHeight_;
    }
    return latestSerial_;
}

bool CaptureJob::Start(const CaptureConfig& config, CaptureObserver& observer, std::string* error) {
    error->clear();
    if (capturing_.load()) return false;
    Wait();  // the worker of the previous run has finished its lines
    const uint32_t fourcc = source_->fourcc();
    if (!CaptureFormatAccepted(fourcc)) {
        *error = kCaptureFormatRefusal;
        return false;
    }
    const int width = source_->width(), height = source_->height();
    const std::string openMessage =
        (config.encode ? "Error Opening " : "Error Opening Capture File ") + config.outputPath;
    if (width < 2 || height < 2 || config.outputPath.empty()) {
        *error = openMessage;
        return false;
    }
    config_ = config;
    observer_ = &observer;
    width_ = width;
    height_ = height;
    frameBytes_ = FrameBytesOf(kFourccI420, width, height);
    const GeneralSettings& general = config_.settings.general;

    if (config_.encode) {
        r263avo::EncoderParams& p = config_.settings.coder;
        p.StartFrame = 0;
        p.EndFrame = std::max(p.EndFrame, 0);
        p.FrameCount = std::max(p.FrameCount, p.EndFrame + 1);
        p.SourceFormat = PictureFormatOfSize(width, height);
        p.Width = width;
        p.Height = height;
        if (p.MBlocksPerSlice < 1) p.MBlocksPerSlice = std::max(width / 16, 1);
        p.ComputeSnr = general.ShowSNR != 0 ? 1 : 0;
        UseLargePagesForPictureStores();
        encoder_.reset(r263avo::EncoderCreate());
        if (!encoder_ || r263avo::EncoderOpen(*encoder_, p) == -1) {
            encoder_.reset();
            *error = Format("The encoder cannot code %dx%d pictures with these settings", width, height);
            if (p.UseTrueBPictures != 0 && p.FrameRateActual > 1) {
                *error += ": B-pictures (Advanced/UseTrueBPictures) need Coder/FrameRateActual 1";
            }
            return false;
        }
    }
    std::string why;
    if (!OpenOutput(config_.outputPath, config_.protectedPaths, &why)) {
        *error = openMessage + why;
        if (encoder_) r263avo::EncoderClose(*encoder_);
        encoder_.reset();
        return false;
    }
    nextFrame_ = 0;
    skipped_ = 0;
    endFrame_ = config_.settings.coder.EndFrame;
    sumY_ = sumU_ = sumV_ = 0.0;
    snrFrames_ = 0;
    writeError_.clear();
    failure_.clear();
    frameCounter_.store(0);
    end_.store(End::kNone);
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        stopNow_ = false;
    }
    encoding_.store(config_.encode);
    // Frames wait for this lock, so a source started here gives the run its very first frame,
    // and no frame is taken before the start line.
    std::lock_guard<std::mutex> lock(frameMutex_);
    capturing_.store(true);
    sourceStartedByRun_ = false;
    if (!source_->Capturing()) {
        if (!source_->Start(error)) {
            capturing_.store(false);
            encoding_.store(false);
            output_.Discard();
            if (encoder_) r263avo::EncoderClose(*encoder_);
            encoder_.reset();
            return false;
        }
        sourceStartedByRun_ = true;
    }
    if (config_.encode) {
        if (general.ShowProgress) observer.ProgressStart("Encoding:", 0, endFrame_);
        if (general.LogInfoCoder) {
            observer.Log(Format("-> Video capture and encoding started: %d frames at %0.1f fps...",
                                endFrame_ + 1, config_.frameRate));
        }
    } else if (general.LogInfoCoder) {
        observer.Log(
            Format("-> Video capture started: raw YUV12 video stream at %0.1f fps...", config_.frameRate));
    }
    Launch(observer);
    return true;
}

void CaptureJob::StopCapture() {
    std::lock_guard<std::mutex> lock(runMutex_);
    stopNow_ = true;
    runChanged_.notify_all();
}

const uint8_t* CaptureJob::ToI420(const CapturedFrame& frame) {
    if (frame.size < FrameBytesOf(frame.fourcc, frame.width, frame.height)) return nullptr;
    const int lumaSize = frame.width * frame.height;
    const size_t bytes = FrameBytesOf(kFourccI420, frame.width, frame.height);
    switch (frame.fourcc) {
        case kFourccI420:
            return frame.data;
        case kFourccYV12: {
            // Y V U to Y U V: the raw files and the encoder take Cb before Cr.
            convert_.resize(bytes);
            const size_t chroma = static_cast<size_t>(frame.width / 2) * (frame.height / 2);
            std::memcpy(convert_.data(), frame.data, static_cast<size_t>(lumaSize));
            std::memcpy(convert_.data() + lumaSize, frame.data + lumaSize + chroma, chroma);
            std::memcpy(convert_.data() + lumaSize + chroma, frame.data + lumaSize, chroma);
            return convert_.data();
        }
        case kFourccYUY2:
            convert_.resize(bytes);
            clrconv::ConvertYuy2ToI420(frame.data, convert_.data(), frame.width, frame.height, lumaSize,
                                       cpuFeatures_);
            return convert_.data();
        case kFourccUYVY:
            convert_.resize(bytes);
            clrconv::ConvertUyvyToI420(frame.data, convert_.data(), frame.width, frame.height, lumaSize,
                                       cpuFeatures_);
            return convert_.data();
        default:
            return nullptr;
    }
}

void CaptureJob::OnFrame(const CapturedFrame& frame) {
    const uint8_t* picture = ToI420(frame);
    if (!picture) return;
    uint64_t serial;
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        const size_t bytes = FrameBytesOf(kFourccI420, frame.width, frame.height);
        latest_.assign(picture, picture + bytes);
        latestWidth_ = frame.width;
        latestHeight_ = frame.height;
        serial = ++latestSerial_;
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        if (capturing_.load() && frame.width == width_ && frame.height == height_) CaptureFrame(picture);
    }
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (listener_) listener_(serial);
}

void CaptureJob::CaptureFrame(const uint8_t* picture) {
    const GeneralSettings& general = config_.settings.general;
    CaptureObserver& out = *observer_;
    if (!encoding_.load()) {
        if (!WriteFully(output_.fd(), picture, frameBytes_)) {
            writeError_ = SystemReason(errno);
            failure_ = "Error Writing Capture File " + output_.path() + ": " + writeError_;
            out.Error(failure_);
            EndRun(End::kWriteFailed);
            return;
        }
        const int count = frameCounter_.fetch_add(1) + 1;
        if (config_.frameLimit >= 0 && count >= config_.frameLimit) EndRun(End::kCompleted);
        return;
    }
    const int n = frameCounter_.load();
    if (n == nextFrame_) {
        const int32_t r = SingleFrameStep(n, picture);
        frameCounter_.store(n + 1);
        if (r == -2) {
            failure_ = Format("Encoding failed at frame %d", n);
            out.Error(failure_);
            EndRun(End::kEncoderFailed);
            return;
        }
        if (r == -1) {
            failure_ = "Error Writing " + output_.path() + ": " + writeError_;
            out.Error(failure_);
            EndRun(End::kWriteFailed);
            return;
        }
        nextFrame_ = r + 1;
        if (n + 1 > endFrame_) {
            EndRun(End::kCompleted);
        } else if (!running_.load()) {
            EndRun(End::kStopped);
        }
        return;
    }
    ++skipped_;
    if (general.LogInfoCoder) out.Log(Format("-> Skipping frame %d", n));
    frameCounter_.store(n + 1);
    if (n + 1 > endFrame_) EndRun(End::kCompleted);
}

int32_t CaptureJob::SingleFrameStep(int n, const uint8_t* picture) {
    const GeneralSettings& general = config_.settings.general;
    const r263avo::EncoderParams& params = config_.settings.coder;
    CaptureObserver& out = *observer_;
    if (general.ShowProgress) out.ProgressPosition(n);
    int32_t intra = 0;
    if (n == 0) {
        intra = 1;
    } else if (params.IFramePeriod != 0) {
        intra = n % params.IFramePeriod == 0 ? 1 : 0;
    }
    uint32_t iPicture = 0, byteCount = 0;
    const int32_t r = r263avo::EncodeFrame(*encoder_, n, intra, &iPicture, picture, &byteCount);
    if (r < n) return -2;
    const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder_);
    if (params.UseTrueBPictures == 0) {
        PictureReport report;
        report.frame = n;
        report.type = iPicture ? 'I' : 'P';
        report.bytes = byteCount;
        report.snrMeasured = general.ShowSNR != 0;
        report.snrY = stats.SnrY;
        report.snrU = stats.SnrU;
        report.snrV = stats.SnrV;
        out.Picture(report);
    }
    if (general.ShowSNR && params.UseTrueBPictures == 0) {
        out.Log(Format("-> Frame %d (%u bytes), SNR_Y = %0.2f, SNR_U = %0.2f, SNR_V = %0.2f", n, byteCount,
                       stats.SnrY, stats.SnrU, stats.SnrV));
        sumY_ += stats.SnrY;
        sumU_ += stats.SnrU;
        sumV_ += stats.SnrV;
        ++snrFrames_;
    }
    if (byteCount > 0 && stats.OutputBuffer && !WriteFully(output_.fd(), stats.OutputBuffer, byteCount)) {
        writeError_ = SystemReason(errno);
        return -1;
    }
    return r;
}

void CaptureJob::EndRun(End reason) {
    capturing_.store(false);
    End none = End::kNone;
    end_.compare_exchange_strong(none, reason);
    std::lock_guard<std::mutex> lock(runMutex_);
    runChanged_.notify_all();
}

void CaptureJob::OnError(int code, const std::string& text) {
    if (code == 0) return;
    CaptureObserver* observer;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        observer = capturing_.load() ? observer_ : idleObserver_;
    }
    if (observer) observer->DriverWarning(code, text);
    std::lock_guard<std::mutex> lock(frameMutex_);
    if (capturing_.load()) {
        failure_ = text;
        EndRun(End::kSourceFailed);
    }
}

void CaptureJob::Run() {
    End reason = End::kNone;
    {
        std::unique_lock<std::mutex> lock(runMutex_);
        for (;;) {
            reason = end_.load();
            if (reason != End::kNone) break;
            if (stopNow_) {
                reason = End::kStopped;
                break;
            }
            // Stop Encoding waits for the next encoded frame, unless no frame can come any more.
            if (!running_.load() && (!encoding_.load() || !source_->Capturing())) {
                reason = End::kStopped;
                break;
            }
            if (!source_->Capturing()) {
                reason = End::kSourceFailed;
                break;
            }
            // Stop() only clears the flag, so the flag is also looked at now and then.
            runChanged_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        capturing_.store(false);
        End none = End::kNone;
        end_.compare_exchange_strong(none, reason);
        reason = end_.load();
    }
    if (sourceStartedByRun_) source_->Stop();
    const bool ok = encoding_.load() ? FinishEncoding(reason) : FinishRaw(reason);
    // A stop of the window's own (Stop Capture, closing) is the usual end of a capture; Stop()
    // gives the stopped status.
    std::string failure;
    if (!ok) failure = failure_.empty() ? "the output could not be written" : failure_;
    Finish(*observer_, ok && (reason == End::kCompleted || (reason == End::kStopped && !StopRequested())),
           failure);
}

bool CaptureJob::FinishRaw(End reason) {
    const GeneralSettings& general = config_.settings.general;
    const int frames = frameCounter_.load();
    // After a failed write only whole frames are kept.
    if (reason == End::kWriteFailed && output_.fd() >= 0) {
        if (ftruncate(output_.fd(), static_cast<off_t>(frames) * static_cast<off_t>(frameBytes_)) != 0) {
            // The partial frame stays; the frame count below is still right.
        }
    }
    uint64_t bytes = 0;
    bool ok = CommitOutput(&bytes);
    const bool completed = ok && (reason == End::kCompleted || reason == End::kStopped);
    if (general.LogInfoCoder) {
        observer_->Log(Format(completed ? "-> Video capture completed: captured %d frames"
                                        : "-> Video capture terminated: captured %d frames",
                              frames));
        observer_->Log("");
    }
    result_.frames = frames;
    result_.outputPath = output_.path();
    result_.outputBytes = bytes;
    return ok && (reason == End::kCompleted || reason == End::kStopped);
}

bool CaptureJob::FinishEncoding(End reason) {
    const GeneralSettings& general = config_.settings.general;
    const r263avo::EncoderParams& params = config_.settings.coder;
    bool ok = reason != End::kWriteFailed;
    // Held B-pictures are coded and written too, so that no captured frame is lost.
    if (encoder_ && params.UseTrueBPictures != 0 && ok) {
        for (int k = 0; k < std::min(params.BPictures, 5); ++k) {
            uint32_t byteCount = 0;
            if (r263avo::EncoderFlushFrame(*encoder_, &byteCount) != 0) break;
            const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder_);
            if (byteCount > 0 && stats.OutputBuffer &&
                !WriteFully(output_.fd(), stats.OutputBuffer, byteCount)) {
                failure_ = "Error Writing " + output_.path() + ": " + SystemReason(errno);
                observer_->Error(failure_);
                ok = false;
                break;
            }
        }
    }
    if (encoder_) r263avo::EncoderClose(*encoder_);
    encoder_.reset();
    uint64_t outputBytes = 0;
    ok = CommitOutput(&outputBytes) && ok;
    encoding_.store(false);
    if (general.ShowProgress) observer_->ProgressStop();
    const int count = frameCounter_.load() - skipped_;
    if (general.ShowSNR && params.UseTrueBPictures == 0) {
        const int divisor = std::max(snrFrames_, 1);
        observer_->Log(Format("-> Average SNR: SNR_Y = %0.4f, SNR_U = %0.4f, SNR_V = %0.4f", sumY_ / divisor,
                              sumU_ / divisor, sumV_ / divisor));
    }
    const bool completed = ok && (reason == End::kCompleted || reason == End::kStopped);
    if (general.LogInfoCoder) {
        observer_->Log(Format(completed ? "-> Capture and encoding completed (%d frames encoded)"
                                        : "-> Capture and encoding terminated (%d frames encoded)",
                              count));
        observer_->Log(Format("-> Output file %s (%llu bytes)", output_.path().c_str(),
                              static_cast<unsigned long long>(outputBytes)));
        const float target = static_cast<float>(params.Bitrate) * 0.001f;
        const double kilobits = static_cast<double>(outputBytes * 8 / 1000);
        const double actual = count > 0 ? kilobits * params.FrameRateTarget / count : 0.0;
        observer_->Log(Format("-> Target bitrate: %0.1f Kbps, actual bitrate: %0.1f Kbps", target, actual));
        observer_->Log("");
    }
    result_.frames = count;
    result_.outputPath = output_.path();
    result_.outputBytes = outputBytes;
    return completed;
}

bool CaptureJob::OpenOutput(const std::string& path, const std::vector<std::string>& protectedPaths,
                            std::string* why) {
    const FileIdentity target = IdentifyPath(path);
    for (const std::string& input : protectedPaths) {
        if (target == IdentifyPath(input)) {
            *why = ": the file is an input of the workbench";
            return false;
        }
    }
    std::string error;
    if (output_.Open(path, &error)) return true;
    // The reason after "Error Opening <path>", for the message of this job.
    const std::string prefix = "Error Opening " + path;
    *why = error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : ": " + error;
    return false;
}

bool CaptureJob::CommitOutput(uint64_t* bytes) {
    std::string error;
    *bytes = 0;
    if (!output_.Commit(&error)) {
        failure_ = error;
        observer_->Error(error);
        return false;
    }
    struct stat st {};
    if (stat(output_.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
        *bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

}  // namespace tessaro
