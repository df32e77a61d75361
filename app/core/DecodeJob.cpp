#include "DecodeJob.h"

#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <memory>
#include <vector>

#include "BusErrorGuard.h"
#include "FrameWriter.h"
#include "OutputFiles.h"
#include "R263IRI.h"
#include "Y4m.h"

namespace tessaro {
namespace {

using Clock = std::chrono::steady_clock;

struct DecoderDeleter {
    void operator()(r263iri::Decoder* d) const { r263iri::DecoderDestroy(d); }
};

// The largest picture a stream can announce (2048 x 1152, 4:2:0).
constexpr uint32_t kMaxPictureBytes = 2048u * 1152u * 3u / 2u;

// Pictures the decoder passed over, by reason.
struct LostPictures {
    int unsupported = 0, formatChanged = 0, badSize = 0;
    int tooShort = 0;  // damaged: a picture header without the data of its macroblocks
};

}  // namespace

bool DecodeJob::Start(const DecodeJobConfig& config, JobObserver& observer, std::string* error) {
    Wait();
    if (!config.input || !config.input->isBitstream()) return false;
    if (!config.outputPath.empty() && config.outputFd < 0) {
        const FileIdentity output = IdentifyPath(config.outputPath);
        if (output.regular && output == IdentifyRegularFile(config.input->device(), config.input->inode())) {
            const std::string message = "Error Opening " + config.outputPath +
                                        ": it is the same file as the input " + config.input->name();
            if (error) *error = message;
            return false;
        }
    }
    config_ = config;
    observer_ = &observer;
    analysis_.reset();
    if (config.collectAnalysis) analysis_ = std::make_shared<StreamAnalysis>();
    Launch(observer);
    return true;
}

void DecodeJob::Run() {
    const GeneralSettings& general = config_.settings.general;
    VideoFile& file = *config_.input;
    JobObserver& out = *observer_;
    const std::string inputPath = file.name();

    if (general.ShowProgress) out.ProgressStart("Decoding:", 0, 100);
    std::string failure;
    // The stream is mapped, not copied: a large stream needs no memory of its size.
    const uint8_t* stream = file.bitstreamSize() < 0xFFFFFFFFu ? file.MapBitstream() : nullptr;
    size_t size = stream ? static_cast<size_t>(file.bitstreamSize()) : 0;
    if (!stream) {
        failure = "Error Opening " + inputPath;
        out.Error(failure);
        running_.store(false);
    }
    int fd = -1;
    std::string outputPath = config_.outputPath;
    if (running_.load()) {
        std::string openError;
        bool created = false;
        if (config_.outputFd >= 0) {
            created = true;
            fd = config_.outputFd;
        } else if (outputPath.empty()) {
            created = CreateDecodedOutput(inputPath, file.decodedName(), &outputPath, &fd);
            if (!created) openError = "Error Opening " + file.decodedName();
        } else if (named_.Open(outputPath, &openError)) {
            created = true;
            fd = named_.fd();
        }
        if (!created) {
            failure = openError;
            out.Error(failure);
            running_.store(false);
        }
    }
    if (general.LogInfoCoder) {
        out.Log(Format("-> Decoding started: input file %s (%llu bytes)...", inputPath.c_str(),
                       static_cast<unsigned long long>(file.bitstreamSize())));
    }

    std::unique_ptr<r263iri::Decoder, DecoderDeleter> decoder(r263iri::DecoderCreate());
    if (!decoder) running_.store(false);
    if (decoder) r263iri::DecoderOpen(*decoder);
    if (decoder && analysis_) {
        r263iri::DecoderSetAnalysis(*decoder, true);
        analysis_->source = inputPath;
        if (stream && running_.load()) {
            RunGuardedAgainstBusError(
                [&] { analysis_->haveInfo = AnalyseStream(stream, size, &analysis_->info); });
        }
    }
    uint32_t position = 0, pictureBytes = 0;
    int pictures = 0, written = 0;
    Clock::duration decodeTime{};
    LostPictures lost;
    bool streamFaulted = false;
    uint64_t outputBytes = 0;
    bool headerWritten = false;
    // With more than one thread the pictures are written by a thread of their own while the next
    // ones are decoded: writing a large picture costs about half as much as decoding it.
    FrameWriter writer(fd, fd >= 0 && ResolvedThreads(config_.settings.coder.Threads) > 1);
    // One picture to the output, behind the stream header and its frame marker for Y4M.
    auto writePicture = [&](const uint8_t* data, uint32_t bytes) {
        if (!config_.y4m) {
            if (!writer.Write(data, bytes)) return false;
            outputBytes += bytes;
            return true;
        }
        if (!headerWritten) {
            const r263iri::DecoderInfo& info = r263iri::DecoderGetInfo(*decoder);
            const std::string header =
                Y4mStreamHeader(info.displayWidth, info.displayHeight, config_.y4mRate);
            if (!writer.Write(header.data(), header.size())) return false;
            outputBytes += header.size();
            headerWritten = true;
        }
        if (!writer.Write({{kY4mFrameMarker, kY4mFrameMarkerBytes}, {data, bytes}})) return false;
        outputBytes += kY4mFrameMarkerBytes + bytes;
        return true;
    };
    while (position < size && running_.load()) {
        const uint32_t before = position;
        const Clock::time_point t0 = Clock::now();
        const uint8_t* picture = nullptr;
        // The mapping faults when the file shrinks under it; the run then ends with that reason.
        if (!RunGuardedAgainstBusError([&] {
                picture = r263iri::DecodePicture(*decoder, stream, size, &position, &pictureBytes,
                                                 position == 0 ? 1 : 0);
            })) {
            failure = "Error reading " + inputPath + ": the file was truncated while it was being decoded";
            out.Error(failure);
            streamFaulted = true;
            running_.store(false);
            break;
        }
        decodeTime += Clock::now() - t0;
        switch (r263iri::DecoderGetInfo(*decoder).lastStatus) {
            case r263iri::DecodeStatus::kUnsupportedMode:
                ++lost.unsupported;
                break;
            case r263iri::DecodeStatus::kFormatChanged:
                ++lost.formatChanged;
                break;
            case r263iri::DecodeStatus::kBadPictureSize:
                ++lost.badSize;
                break;
            case r263iri::DecodeStatus::kPictureTooShort:
                ++lost.tooShort;
                break;
            default:
                break;
        }
        if (pictureBytes == 0xFFFFFFFFu) {  // the decoder could not allocate its stores
            failure = "The decoder could not allocate its picture stores";
            running_.store(false);
            break;
        }
        if (picture) {
            if (pictureBytes == 0 || pictureBytes > kMaxPictureBytes) {
                failure = "The decoder gave a picture of an impossible size";
                running_.store(false);
            } else if (!writePicture(picture, pictureBytes)) {
                failure = "Error writing " + outputPath + ": " + SystemReason(errno);
                out.Error(failure);
                running_.store(false);
            } else {
                ++written;
                if (analysis_)
                    AppendPictureAnalysis(r263iri::DecoderPictureAnalysis(*decoder), analysis_.get());
            }
            ++pictures;
        }
        if (general.ShowProgress) out.ProgressPosition(static_cast<int>(uint64_t{position} * 100 / size));
        if (position <= before) break;  // no progress: the rest of the stream cannot be read
    }
    // The last anchor picture; this also runs after a stop.
    // After a fault in the mapping the decoder's state is not trusted any more.
    const uint8_t* last = decoder && !streamFaulted ? r263iri::DecoderFlush(*decoder) : nullptr;
    ++pictures;
    if (!last || pictureBytes == 0 || pictureBytes > kMaxPictureBytes || fd < 0) {
        if (failure.empty() && !StopRequested()) failure = "The stream holds no picture to decode";
        running_.store(false);
    } else if (!writePicture(last, pictureBytes)) {
        if (failure.empty()) {
            failure = "Error writing " + outputPath + ": " + SystemReason(errno);
            out.Error(failure);
        }
        running_.store(false);
    } else {
        ++written;
        if (analysis_) AppendPictureAnalysis(r263iri::DecoderPictureAnalysis(*decoder), analysis_.get());
    }
    // The pictures still queued reach the file before it is kept or dropped.
    if (!writer.Finish() && failure.empty()) {
        failure = "Error writing " + outputPath + ": " + SystemReason(writer.Error());
        out.Error(failure);
        running_.store(false);
    }
    if (decoder) r263iri::DecoderClose(*decoder);
    file.Close();
    // What was decoded is kept, also after a stop; an output whose writing failed is dropped, and
    // a named file it would have replaced stays as it was.
    const bool writeFailed = failure.rfind("Error writing ", 0) == 0;
    std::string closeError;
    if (named_.fd() >= 0) {
        if (writeFailed || written == 0) {
            named_.Discard();
        } else if (!named_.Commit(&closeError) && failure.empty()) {
            failure = closeError;
        }
    } else if (config_.outputFd >= 0) {
        // Standard output stays open; its writes were checked one by one.
    } else if (fd >= 0 && close(fd) != 0 && failure.empty()) {
        failure = "Error writing " + outputPath + ": " + SystemReason(errno);
    }
    if (!failure.empty()) running_.store(false);

    const bool completed = running_.load();
    if (general.LogInfoCoder) {
        // Pictures the stream held but the output lacks, by the decoder's reason (a clean stream
        // logs none of these lines).
        const struct {
            int count;
            const char* reason;
        } lines[] = {{lost.unsupported, "a mode this decoder does not implement"},
                     {lost.formatChanged, "a picture format other than the first picture's"},
                     {lost.badSize, "an impossible picture size"}};
        for (const auto& line : lines) {
            if (line.count > 0) out.Log(Format("-> Pictures skipped: %d (%s)", line.count, line.reason));
        }
        if (lost.tooShort > 0) {
            out.Log(Format("-> Pictures damaged: %d (%s)", lost.tooShort,
                           "less data than their macroblocks need"));
        }
        if (completed) {
            const double ms = std::chrono::duration<double, std::milli>(decodeTime).count();
            out.Log(
                Format("-> Decoding completed: output file %s (%d frames)", outputPath.c_str(), pictures));
            out.Log(Format(
                "-> Decoding time: %d ms",
                static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(decodeTime).count())));
            out.Log(Format("-> Decoding speed: %0.1f fps", pictures * 1000.0 / ms));
            out.Log("");
        } else {
            out.Log("-> Decoding terminated !");
        }
    }
    if (general.ShowProgress) out.ProgressStop();
    result_.frames = written;
    result_.skippedPictures = lost.unsupported + lost.formatChanged + lost.badSize;
    result_.damagedPictures = lost.tooShort;
    result_.outputPath = outputPath;
    result_.outputBytes = outputBytes;
    Finish(out, completed, failure);
}

}  // namespace tessaro
