#include "EncodeJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "OutputFiles.h"
#include "R263AVO.h"

namespace tessaro {
namespace {

using Clock = std::chrono::steady_clock;

struct EncoderDeleter {
    void operator()(r263avo::Encoder* e) const { r263avo::EncoderDestroy(e); }
};

// Collects the reconstructed pictures (which come in coding order when B-pictures are on) and
// writes them in display order, cropped to the input size.
class ReconWriter {
  public:
    ReconWriter(int fd, int width, int height, int64_t frameBytes)
        : fd_(fd), width_(width), height_(height), frameBytes_(frameBytes) {}

    // A frame handed to the encoder; its picture may come back later.
    void Submitted(int frame) { outstanding_.insert(frame); }

    void Add(const r263avo::ReconstructedPicture& picture) {
        if (fd_ < 0 || !picture.data) return;
        std::vector<uint8_t> frame(static_cast<size_t>(frameBytes_), 0);
        const int cw = width_ / 2, ch = height_ / 2;
        const int codedChromaWidth = picture.codedWidth / 2;
        const size_t codedLuma = static_cast<size_t>(picture.codedWidth) * picture.codedHeight;
        uint8_t* out = frame.data();
        for (int y = 0; y < height_; ++y, out += width_)
            std::memcpy(out, picture.data + static_cast<size_t>(y) * picture.codedWidth, width_);
        for (int plane = 0; plane < 2; ++plane) {
            const uint8_t* src = picture.data + codedLuma + plane * codedLuma / 4;
            for (int y = 0; y < ch; ++y, out += cw)
                std::memcpy(out, src + static_cast<size_t>(y) * codedChromaWidth, cw);
        }
        pending_[picture.frame] = std::move(frame);
        outstanding_.erase(picture.frame);
        // Everything before the earliest picture still held by the encoder is final.
        const int limit = outstanding_.empty() ? INT32_MAX : *outstanding_.begin();
        WriteBefore(limit);
    }

    bool Finish() {
        WriteBefore(INT32_MAX);
        return ok_;
    }

  private:
    void WriteBefore(int limit) {
        while (!pending_.empty() && pending_.begin()->first < limit) {
            const auto& frame = pending_.begin()->second;
            ok_ = ok_ && WriteFully(fd_, frame.data(), frame.size());
            pending_.erase(pending_.begin());
        }
    }

    int fd_, width_, height_;
    int64_t frameBytes_;
    std::set<int> outstanding_;
    std::map<int, std::vector<uint8_t>> pending_;
    bool ok_ = true;
};

// Why the encoder refused to open, as the user is told.
std::string RefusalMessage(const std::string& input, const r263avo::EncoderParams& p, bool created) {
    std::string message = "The encoder cannot code " + input + " with these settings";
    if (!created) return message + ": out of memory";
    if (p.UseTrueBPictures != 0 && p.FrameRateActual > 1) {
        // The B-picture schedule places every input frame; a frame step would leave holes in it.
        return message + ": B-pictures (Advanced/UseTrueBPictures) need Coder/FrameRateActual 1, not " +
               std::to_string(p.FrameRateActual);
    }
    return message;
}

int WholeMilliseconds(Clock::duration d) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

bool EncodeJob::Start(const EncodeJobConfig& config, JobObserver& observer, std::string* error) {
    Wait();
    if (!config.input || !config.input->isRaw()) {
        *error = "Error Opening " + (config.input ? config.input->name() : std::string());
        return false;
    }
    config_ = config;
    observer_ = &observer;
    if (!CreateNamedOutput(config_.outputPath, &outputFd_)) {
        *error = "Error Opening " + config_.outputPath;
        return false;
    }
    reconFd_ = -1;
    if (!config_.reconPath.empty() && !CreateNamedOutput(config_.reconPath, &reconFd_)) {
        close(outputFd_);
        outputFd_ = -1;
        *error = "Error Opening " + config_.reconPath;
        return false;
    }
    const VideoFile& file = *config_.input;
    r263avo::EncoderParams& p = config_.settings.coder;
    const int last = std::max(file.frameCount() - 1, 0);
    p.StartFrame = std::clamp(p.StartFrame, 0, last);
    p.EndFrame = std::clamp(p.EndFrame, 0, last);
    p.FrameCount = file.frameCount();
    p.SourceFormat = file.format();
    p.Width = file.width();
    p.Height = file.height();
    p.ComputeSnr = config_.settings.general.ShowSNR != 0 ? 1 : 0;
    // The reconstruction file holds every picture, and B-picture SNR needs their reconstruction.
    // B-pictures are reconstructed too, so that each coded picture's report names its frame.
    p.ReconstructBPictures = 1;
    Launch(observer);
    return true;
}

void EncodeJob::Run() {
    const GeneralSettings& general = config_.settings.general;
    const r263avo::EncoderParams& params = config_.settings.coder;
    const VideoFile& file = *config_.input;
    JobObserver& out = *observer_;
    const int startFrame = params.StartFrame, endFrame = params.EndFrame;
    const bool bPictures = params.UseTrueBPictures != 0;
    const bool showSnr = general.ShowSNR != 0 && (!bPictures || config_.snrWithBPictures);

    if (general.ShowProgress) out.ProgressStart("Encoding:", startFrame, endFrame);
    if (general.LogInfoCoder) {
        out.Log(Format("-> Encoding started: input file %s (%llu KB, %d frames)...", file.name().c_str(),
                       static_cast<unsigned long long>(file.fileSize() >> 10), endFrame - startFrame + 1));
    }

    std::unique_ptr<r263avo::Encoder, EncoderDeleter> encoder(r263avo::EncoderCreate());
    std::string failure;
    if (!encoder || r263avo::EncoderOpen(*encoder, params) == -1) {
        running_.store(false);
        failure = RefusalMessage(file.name(), params, encoder != nullptr);
        out.Error(failure);
    }
    ReconWriter recon(reconFd_, file.width(), file.height(), file.frameBytes());

    double sumY = 0.0, sumU = 0.0, sumV = 0.0;
    int snrPictures = 0;
    // The SNR line of one coded picture.
    auto logSnr = [&](int frameNumber, uint32_t byteCount) {
        const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder);
        if (stats.SnrY == 1000.0 && stats.SnrU == 1000.0 && stats.SnrV == 1000.0) {
            out.Log(Format("-> Frame %d: identical (SNR_Y = SNR_U = SNR_V = 1000.00)", frameNumber));
        } else {
            out.Log(Format("-> Frame %d (%u bytes), SNR_Y = %0.2f, SNR_U = %0.2f, SNR_V = %0.2f", frameNumber,
                           byteCount, stats.SnrY, stats.SnrU, stats.SnrV));
        }
        sumY += stats.SnrY;
        sumU += stats.SnrU;
        sumV += stats.SnrV;
        ++snrPictures;
    };

    // The structured report of the picture the last encoder call coded.
    auto reportPicture = [&](const r263avo::ReconstructedPicture& picture, uint32_t byteCount) {
        PictureReport report;
        report.frame = picture.frame;
        report.type = picture.type == r263avo::kPictureI   ? 'I'
                      : picture.type == r263avo::kPictureB ? 'B'
                                                           : 'P';
        report.bytes = byteCount;
        report.snrMeasured = params.ComputeSnr != 0;
        if (report.snrMeasured) {
            const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder);
            report.snrY = stats.SnrY;
            report.snrU = stats.SnrU;
            report.snrV = stats.SnrV;
        }
        out.Picture(report);
    };

    // Writes the bytes of the last encoder call and keeps its reconstruction; with B-pictures it
    // also gives the SNR line and the report of the picture the call coded, if any. Returns
    // whether the call coded a picture (in `picture`).
    auto emit = [&](uint32_t byteCount, r263avo::ReconstructedPicture* picture) {
        const r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder);
        if (byteCount > 0 && stats.OutputBuffer && !WriteFully(outputFd_, stats.OutputBuffer, byteCount)) {
            if (failure.empty()) failure = "Error writing " + config_.outputPath + ": " + SystemReason(errno);
            running_.store(false);
        }
        if (!r263avo::EncoderLastReconstruction(*encoder, picture)) return false;
        if (reconFd_ >= 0) recon.Add(*picture);
        if (bPictures) {
            if (showSnr) logSnr(picture->frame, byteCount);
            reportPicture(*picture, byteCount);
        }
        return true;
    };

    std::vector<uint8_t> frame(static_cast<size_t>(file.frameBytes()), 0);
    Clock::duration encodeTime{};
    int nextFrame = startFrame, skipped = 0;
    int n = startFrame;
    for (; n <= endFrame; ++n) {
        if (!running_.load()) break;
        if (n != nextFrame) {
            ++skipped;
            if (general.LogInfoCoder) out.Log(Format("-> Skipping frame %d", n));
            continue;
        }
        file.ReadFrame(n, frame.data());  // a short read leaves the previous bytes in place
        int intra = 0;
        if (n == startFrame) {
            intra = 1;
        } else if (params.IFramePeriod != 0) {
            intra = (n - startFrame) % params.IFramePeriod == 0 ? 1 : 0;
        }
        uint32_t iPicture = 0, byteCount = 0;
        recon.Submitted(n);
        const Clock::time_point t0 = Clock::now();
        const int32_t result = r263avo::EncodeFrame(*encoder, n, intra, &iPicture, frame.data(), &byteCount);
        encodeTime += Clock::now() - t0;
        if (result < n) {
            // The encoder refused the frame: end the run rather than skip the rest of the range.
            running_.store(false);
            failure = Format("Encoding failed at frame %d", n);
            out.Error(failure);
            break;
        }
        nextFrame = result + 1;
        r263avo::ReconstructedPicture picture;
        const bool coded = emit(byteCount, &picture);
        if (general.ShowProgress) out.ProgressPosition(n);
        if (showSnr && !bPictures) logSnr(n, byteCount);
        if (coded && !bPictures) reportPicture(picture, byteCount);
    }
    if (params.UseTrueBPictures && encoder) {
        for (int k = 0; k < std::min(params.BPictures, 5); ++k) {
            uint32_t byteCount = 0;
            const Clock::time_point t0 = Clock::now();
            const int32_t status = r263avo::EncoderFlushFrame(*encoder, &byteCount);
            encodeTime += Clock::now() - t0;
            if (status != 0) break;
            r263avo::ReconstructedPicture picture;
            emit(byteCount, &picture);
        }
    }
    const int encodedCount = n - skipped - startFrame;
    if (showSnr) {
        // Without B-pictures every encoded frame has its line; with them, every coded picture.
        const int count = std::max(bPictures ? snrPictures : encodedCount, 1);
        out.Log(Format("-> Average SNR: SNR_Y = %0.4f, SNR_U = %0.4f, SNR_V = %0.4f", sumY / count,
                       sumU / count, sumV / count));
    }
    if (encoder) r263avo::EncoderClose(*encoder);
    if (reconFd_ >= 0) {
        const bool written = recon.Finish();
        const int writeError = errno;
        const bool closed = close(reconFd_) == 0;
        if ((!written || !closed) && failure.empty()) {
            failure =
                "Error writing " + config_.reconPath + ": " + SystemReason(written ? errno : writeError);
        }
        if (!written || !closed) running_.store(false);
        reconFd_ = -1;
    }
    if (close(outputFd_) != 0) {
        if (failure.empty()) failure = "Error writing " + config_.outputPath + ": " + SystemReason(errno);
        running_.store(false);
    }
    outputFd_ = -1;
    struct stat st {};
    const uint64_t outputBytes =
        stat(config_.outputPath.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;

    const bool completed = running_.load();
    if (general.LogInfoCoder) {
        out.Log(Format(completed ? "-> Encoding completed (%d frames encoded)"
                                 : "-> Encoding terminated (%d frames encoded)",
                       encodedCount));
        out.Log(Format("-> Output file %s (%llu bytes)", config_.outputPath.c_str(),
                       static_cast<unsigned long long>(outputBytes)));
        // Single precision as in the rest of the rate arithmetic; the kilobit count is an integer.
        const float target = static_cast<float>(params.Bitrate) * 0.001f;
        const float kilobits = static_cast<float>(outputBytes * 8 / 1000);
        const float actual = (params.FrameRateTarget / static_cast<float>(params.FrameRateActual)) *
                             kilobits / static_cast<float>(encodedCount);
        out.Log(Format("-> Target bitrate: %0.1f Kbps, actual bitrate: %0.1f Kbps", target, actual));
        out.Log(Format("-> Encoding time: %d ms", WholeMilliseconds(encodeTime)));
        out.Log(Format("-> Encoding speed: %0.1f fps", encodedCount * 1000.0 / Milliseconds(encodeTime)));
        out.Log("");
    }
    if (general.ShowProgress) out.ProgressStop();
    result_.frames = encodedCount;
    result_.outputPath = config_.outputPath;
    result_.outputBytes = outputBytes;
    Finish(out, completed, failure);
}

}  // namespace tessaro
