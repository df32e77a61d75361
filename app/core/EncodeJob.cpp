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

#include "FrameReader.h"
#include "FrameWriter.h"
#include "LargePages.h"
#include "OutputFiles.h"
#include "R263AVO.h"
#include "Y4m.h"

namespace tessaro {
namespace {

using Clock = std::chrono::steady_clock;

// Collects the reconstructed pictures (which come in coding order when B-pictures are on) and
// writes them in display order, cropped to the input size. With a Y4M stream header the file
// is a Y4M sequence: the header first, a frame marker before each picture.
class ReconWriter {
  public:
    // threaded: the pictures are written by a thread of their own (FrameWriter).
    ReconWriter(int fd, int width, int height, int64_t frameBytes, std::string y4mHeader, bool threaded)
        : fd_(fd),
          width_(width),
          height_(height),
          frameBytes_(frameBytes),
          y4mHeader_(std::move(y4mHeader)),
          writer_(fd, threaded && fd >= 0) {}

    // A frame handed to the encoder; its picture may come back later.
    void Submitted(int frame) { outstanding_.insert(frame); }

    void Add(const r263avo::ReconstructedPicture& picture) {
        if (fd_ < 0 || !picture.data) return;
        // A buffer of a picture written before is used again: no allocation per picture.
        std::vector<uint8_t> frame;
        if (!spare_.empty()) {
            frame = std::move(spare_.back());
            spare_.pop_back();
        }
        // Every byte is written below (the coded sizes are even), so a reused buffer needs no clearing.
        frame.resize(static_cast<size_t>(frameBytes_));
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
        if (!writer_.Finish() && ok_) {
            ok_ = false;
            error_ = writer_.Error();
        }
        return ok_;
    }
    int Error() const { return error_; }

  private:
    void WriteBefore(int limit) {
        while (!pending_.empty() && pending_.begin()->first < limit) {
            std::vector<uint8_t>& frame = pending_.begin()->second;
            if (ok_ && !y4mHeader_.empty() && !headerWritten_) {
                headerWritten_ = true;
                ok_ = writer_.Write(y4mHeader_.data(), y4mHeader_.size());
            }
            if (ok_) {
                // The Y4M frame marker goes with its picture in one write.
                const size_t marker = y4mHeader_.empty() ? 0 : kY4mFrameMarkerBytes;
                ok_ = writer_.Write({{kY4mFrameMarker, marker}, {frame.data(), frame.size()}});
            }
            if (!ok_ && error_ == 0) error_ = writer_.Error();
            spare_.push_back(std::move(frame));
            pending_.erase(pending_.begin());
        }
    }

    int fd_, width_, height_;
    int64_t frameBytes_;
    std::string y4mHeader_;
    bool headerWritten_ = false;
    std::set<int> outstanding_;
    std::map<int, std::vector<uint8_t>> pending_;
    std::vector<std::vector<uint8_t>> spare_;  // buffers of pictures written
    bool ok_ = true;
    int error_ = 0;  // errno of the failed write
    FrameWriter writer_;
};

// The setting that keeps the encoder from coding `p`, as the user is told; empty when none of
// the known conflicts applies.
std::string SettingConflict(const r263avo::EncoderParams& p) {
    if (p.Speed < 1 || p.Speed > 5) {
        return "Coder/Speed must be 1 to 5, not " + std::to_string(p.Speed);
    }
    if (p.FrameRateActual < 1) {
        return "Coder/FrameRateActual must be at least 1, not " + std::to_string(p.FrameRateActual);
    }
    if (p.UseTrueBPictures != 0 && p.FrameRateActual > 1) {
        // The B-picture schedule places every input frame; a frame step would leave holes in it.
        return "B-pictures (Advanced/UseTrueBPictures) need Coder/FrameRateActual 1, not " +
               std::to_string(p.FrameRateActual);
    }
    if (p.UseSliceMode != 0 && p.MBlocksPerSlice < 1) {
        return "slices (Advanced/UseSliceMode) need Advanced/MBlocksPerSlice of at least 1, not " +
               std::to_string(p.MBlocksPerSlice);
    }
    if (p.RateControl == 1 && !(p.FrameRateTarget > 0.0f))
        return "Coder/RateControl 1 needs a Coder/FrameRateTarget";
    return std::string();
}

// Why the encoder refused to open, as the user is told.
std::string RefusalMessage(const std::string& input, const r263avo::EncoderParams& p, bool created) {
    std::string message = "The encoder cannot code " + input + " with these settings";
    if (!created) return message + ": out of memory";
    const std::string conflict = SettingConflict(p);
    if (!conflict.empty()) return message + ": " + conflict;
    if (p.SourceFormat == kCustom) {
        return message + Format(": the picture size %dx%d cannot be coded", p.Width, p.Height);
    }
    return message;
}

// Refuses an output that is one of the run's inputs or another of its outputs.
bool DistinctFiles(const std::vector<std::pair<std::string, FileIdentity>>& inputs,
                   const std::vector<std::pair<std::string, FileIdentity>>& outputs, std::string* error) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        const auto& [path, id] = outputs[i];
        // Devices such as /dev/null take any number of outputs.
        if (id.exists && !id.regular) continue;
        for (const auto& [inputPath, inputId] : inputs) {
            if (id == inputId) {
                *error = "Error Opening " + path + ": it is the same file as the input " + inputPath;
                return false;
            }
        }
        for (size_t j = 0; j < i; ++j) {
            if (id == outputs[j].second) {
                *error = "Error Opening " + path + ": it is the same file as the output " + outputs[j].first;
                return false;
            }
        }
    }
    return true;
}

int WholeMilliseconds(Clock::duration d) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

void EncodeJob::EncoderDeleter::operator()(r263avo::Encoder* e) const {
    r263avo::EncoderDestroy(e);
}

bool EncodeJob::Start(const EncodeJobConfig& config, JobObserver& observer, std::string* error) {
    Wait();
    if (!config.input || !config.input->isRaw()) {
        *error = "Error Opening " + (config.input ? config.input->name() : std::string());
        return false;
    }
    // Everything is checked before any output is created, so that a refused start changes nothing.
    EncodeJobConfig checked = config;
    const VideoFile& file = *checked.input;
    r263avo::EncoderParams& p = checked.settings.coder;
    // A stream's length is known only when it ends: its range is open at the top.
    const int last = file.isStream() ? INT32_MAX - 1 : std::max(file.frameCount() - 1, 0);
    p.StartFrame = std::clamp(p.StartFrame, 0, last);
    p.EndFrame = std::clamp(p.EndFrame, 0, last);
    p.FrameCount = file.frameCount();
    p.SourceFormat = file.format();
    p.Width = file.width();
    p.Height = file.height();
    p.ComputeSnr = checked.settings.general.ShowSNR != 0 ? 1 : 0;
    // B-pictures are reconstructed too, so that each coded picture's report names its frame.
    p.ReconstructBPictures = 1;
    if (p.SourceFormat == kCustom && (p.Width % 4 != 0 || p.Height % 4 != 0)) {
        // The picture header carries a custom size in units of 4 pixels.
        *error = Format(
            "The encoder cannot code %s: a custom picture size must be a multiple of 4 in width "
            "and height, not %dx%d",
            file.name().c_str(), p.Width, p.Height);
        return false;
    }
    if (p.EndFrame < p.StartFrame) {
        *error =
            Format("The frame range %d..%d of %s is empty", p.StartFrame, p.EndFrame, file.name().c_str());
        return false;
    }
    UseLargePagesForPictureStores();
    encoder_.reset(r263avo::EncoderCreate());
    if (!encoder_ || r263avo::EncoderOpen(*encoder_, p) == -1) {
        *error = RefusalMessage(file.name(), p, encoder_ != nullptr);
        encoder_.reset();
        return false;
    }
    const std::vector<std::pair<std::string, FileIdentity>> inputs = {
        {file.name(), IdentifyRegularFile(file.device(), file.inode())}};
    std::vector<std::pair<std::string, FileIdentity>> outputs = {
        {checked.outputPath, IdentifyPath(checked.outputPath)}};
    if (!checked.reconPath.empty()) outputs.push_back({checked.reconPath, IdentifyPath(checked.reconPath)});
    if (!DistinctFiles(inputs, outputs, error) || !output_.Open(checked.outputPath, error)) {
        encoder_.reset();
        return false;
    }
    if (!checked.reconPath.empty() && !recon_.Open(checked.reconPath, error)) {
        output_.Discard();
        encoder_.reset();
        return false;
    }
    config_ = checked;
    observer_ = &observer;
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

    const bool stream = file.isStream();
    // A stream of unknown length has no progress to show.
    const bool showProgress = general.ShowProgress != 0 && !stream;
    if (showProgress) out.ProgressStart("Encoding:", startFrame, endFrame);
    if (general.LogInfoCoder && stream) {
        out.Log(Format("-> Encoding started: input file %s (a Y4M stream, %dx%d)...", file.name().c_str(),
                       file.width(), file.height()));
    } else if (general.LogInfoCoder) {
        out.Log(Format("-> Encoding started: input file %s (%llu KB, %d frames)...", file.name().c_str(),
                       static_cast<unsigned long long>(file.fileSize() >> 10), endFrame - startFrame + 1));
    }

    // Opened and checked by Start().
    const std::unique_ptr<r263avo::Encoder, EncoderDeleter> encoder = std::move(encoder_);
    std::string failure;
    bool outputWriteFailed = false;
    const int outputFd = output_.fd(), reconFd = recon_.fd();
    ReconWriter recon(reconFd, file.width(), file.height(), file.frameBytes(),
                      IsY4mPath(config_.reconPath)
                          ? Y4mStreamHeader(file.width(), file.height(), file.frameRate())
                          : std::string(),
                      ResolvedThreads(params.Threads) > 1);

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
        if (byteCount > 0 && stats.OutputBuffer && !WriteFully(outputFd, stats.OutputBuffer, byteCount)) {
            outputWriteFailed = true;
            if (failure.empty()) {
                failure = "Error writing " + config_.outputPath + ": " + SystemReason(errno);
                out.Error(failure);
            }
            running_.store(false);
        }
        if (!r263avo::EncoderLastReconstruction(*encoder, picture)) return false;
        if (reconFd >= 0) recon.Add(*picture);
        if (bPictures) {
            if (showSnr) logSnr(picture->frame, byteCount);
            reportPicture(*picture, byteCount);
        }
        return true;
    };

    // With several coding threads the next frame is read while this one is coded (a stream is
    // always read in order by this thread).
    const bool readAhead = ResolvedThreads(params.Threads) > 1;
    // The encoder's threads read the next frame in pieces when they would wait on each other.
    FrameReader reader(file, readAhead && !stream, true);
    // With one thread a file is coded in place from a mapping instead: the copy a read makes
    // would be a serial step of its own (4CIF: 4 % of the time), while the threads above hide it
    // in their waits, where the mapping's misses would not be hidden. Not with B-pictures, which
    // hold copies of frames anyway: a frame that faults is dropped with the call that coded it,
    // and that call may code held B-pictures as well. Only where faulting the pages in costs less
    // than the copy, which is not so on every system.
    if (!readAhead && !bPictures)
        reader.MapInPlace(startFrame, FrameReader::kWindowBytes, FrameReader::InPlace::kWhenFaster);
    if (reader.readsAhead()) r263avo::EncoderSetIdleWork(*encoder, &FrameReader::ReadStep, &reader);
    // An encoder that starts on the next picture during the current one is handed it one call
    // early: the reader keeps the next frame whole while it reads the one after.
    const bool hints = reader.readsAhead() && r263avo::EncoderCodesAhead(*encoder);
    if (hints) reader.KeepTwoAhead();
    int step = 1;  // the frame step of the last call, to guess the frame after it
    Clock::duration encodeTime{};
    int nextFrame = startFrame, skipped = 0;
    int n = startFrame;
    for (; n <= endFrame; ++n) {
        if (!running_.load()) break;
        if (n != nextFrame) {
            // A stream is read through the frames passed over, so that its end is seen.
            if (stream && reader.Read(n, -1) == nullptr) break;
            ++skipped;
            if (general.LogInfoCoder) out.Log(Format("-> Skipping frame %d", n));
            continue;
        }
        errno = 0;
        const int next = !stream && n + step <= endFrame ? n + step : -1;
        const int after = hints && next >= 0 && next + step <= endFrame ? next + step : -1;
        const uint8_t* input = reader.Read(n, next, after);
        if (input == nullptr) {
            if (stream) break;  // the end of the stream (or a fault, told below)
            // The file was cut short or removed while the run went on: end rather than code stale bytes.
            failure =
                Format("Error reading frame %d of %s: %s", n, file.name().c_str(),
                       errno != 0 ? SystemReason(errno).c_str() : "the file is shorter than when opened");
            out.Error(failure);
            running_.store(false);
            break;
        }
        // The first frame and every IFramePeriod-th after it are intra-coded.
        auto intraAt = [&](int frame) {
            return frame == startFrame ||
                   (params.IFramePeriod != 0 && (frame - startFrame) % params.IFramePeriod == 0);
        };
        const int intra = intraAt(n) ? 1 : 0;
        // The next frame, when it is whole already and will be a P-picture.
        if (hints && next >= 0 && !intraAt(next)) {
            if (const uint8_t* ready = reader.Ready(next))
                r263avo::EncoderSetNextFrame(*encoder, next, ready);
        }
        uint32_t iPicture = 0, byteCount = 0;
        recon.Submitted(n);
        const Clock::time_point t0 = Clock::now();
        const int32_t result = r263avo::EncodeFrame(*encoder, n, intra, &iPicture, input, &byteCount);
        encodeTime += Clock::now() - t0;
        if (reader.Faulted()) {
            // The file shrank while the frame was coded from it: the picture, made partly of
            // zeros, is not written, as a frame cut off before its turn is not coded.
            failure = Format("Error reading frame %d of %s: the file is shorter than when opened", n,
                             file.name().c_str());
            out.Error(failure);
            running_.store(false);
            break;
        }
        if (result < n) {
            // The encoder refused the frame: end the run rather than skip the rest of the range.
            running_.store(false);
            failure = Format("Encoding failed at frame %d", n);
            out.Error(failure);
            break;
        }
        nextFrame = result + 1;
        step = nextFrame - n;
        r263avo::ReconstructedPicture picture;
        const bool coded = emit(byteCount, &picture);
        if (showProgress) out.ProgressPosition(n);
        if (showSnr && !bPictures) logSnr(n, byteCount);
        if (coded && !bPictures) reportPicture(picture, byteCount);
    }
    if (params.UseTrueBPictures) {
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
    if (stream && failure.empty() && file.StreamEnded()) {
        const std::string fault = file.StreamFault();
        if (!fault.empty() || encodedCount == 0) {
            failure = Format("Error reading frame %d of %s: %s", n, file.name().c_str(),
                             !fault.empty() ? fault.c_str() : "the stream ended before it");
            out.Error(failure);
            running_.store(false);
        }
    }
    if (showSnr) {
        // Without B-pictures every encoded frame has its line; with them, every coded picture.
        const int count = std::max(bPictures ? snrPictures : encodedCount, 1);
        out.Log(Format("-> Average SNR: SNR_Y = %0.4f, SNR_U = %0.4f, SNR_V = %0.4f", sumY / count,
                       sumU / count, sumV / count));
    }
    r263avo::EncoderSetIdleWork(*encoder, nullptr, nullptr);  // the reader goes before the encoder
    r263avo::EncoderClose(*encoder);
    // What was written is kept (also after a stop or a short input); a file whose writing failed
    // is dropped and the file it would have replaced stays as it was.
    if (reconFd >= 0) {
        const bool written = recon.Finish();
        std::string error;
        if (!written) {
            recon_.Discard();
            error = "Error writing " + config_.reconPath + ": " + SystemReason(recon.Error());
        } else {
            recon_.Commit(&error);
        }
        if (!error.empty()) {
            if (failure.empty()) {
                failure = error;
                out.Error(failure);
            }
            running_.store(false);
        }
    }
    struct stat st {};
    const uint64_t outputBytes =
        fstat(outputFd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    std::string commitError;
    if (outputWriteFailed) {
        output_.Discard();
    } else if (!output_.Commit(&commitError)) {
        if (failure.empty()) {
            failure = commitError;
            out.Error(failure);
        }
        running_.store(false);
    }

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
        // A run that encoded nothing, or took no measurable time, gives 0 rather than a non-finite figure.
        const float actual = encodedCount > 0
                                 ? (params.FrameRateTarget / static_cast<float>(params.FrameRateActual)) *
                                       kilobits / static_cast<float>(encodedCount)
                                 : 0.0f;
        const double ms = Milliseconds(encodeTime);
        out.Log(Format("-> Target bitrate: %0.1f Kbps, actual bitrate: %0.1f Kbps", target, actual));
        out.Log(Format("-> Encoding time: %d ms", WholeMilliseconds(encodeTime)));
        out.Log(Format("-> Encoding speed: %0.1f fps", ms > 0.0 ? encodedCount * 1000.0 / ms : 0.0));
        out.Log("");
    }
    if (showProgress) out.ProgressStop();
    result_.frames = encodedCount;
    result_.outputPath = config_.outputPath;
    result_.outputBytes = outputBytes;
    Finish(out, completed, failure);
}

}  // namespace tessaro
