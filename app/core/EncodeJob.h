// The encode job: codes a frame range of a raw sequence into an H.263+ bitstream file on a worker
// thread, with its own encoder context, reporting log lines and progress to an observer.
#pragma once

#include <memory>
#include <string>

#include "Job.h"
#include "OutputFiles.h"
#include "Settings.h"
#include "VideoFile.h"

namespace r263avo {
class Encoder;
}

namespace tessaro {

struct EncodeJobConfig {
    const VideoFile* input = nullptr;  // an open raw sequence; must outlive the run
    std::string outputPath;            // the bitstream file (created, or truncated)
    // Optional: reconstructed pictures, display order, input size; a Y4M sequence when the name
    // ends in ".y4m", raw otherwise.
    std::string reconPath;
    // With B-pictures the SNR lines are left out unless this is set: then every coded picture,
    // B-pictures included, gets its line (in coding order, under its own frame number).
    bool snrWithBPictures = false;
    CodecSettings settings;  // General part and EncoderParams (StartFrame/EndFrame included)
};

class EncodeJob final : public Job {
  public:
    ~EncodeJob() override { StopAndJoin(); }
    // Creates the output files, clamps the frame range to the file, and starts the worker. False
    // with `error` ("Error Opening <path>") when a file cannot be created; nothing starts then.
    bool Start(const EncodeJobConfig& config, JobObserver& observer, std::string* error);

  private:
    void Run() override;
    struct EncoderDeleter {
        void operator()(r263avo::Encoder* e) const;
    };
    EncodeJobConfig config_;
    JobObserver* observer_ = nullptr;
    std::unique_ptr<r263avo::Encoder, EncoderDeleter> encoder_;  // opened by Start()
    OutputFile output_, recon_;
};

}  // namespace tessaro
