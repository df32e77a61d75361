// The decode job: decodes a whole H.263 bitstream into a raw sequence file on a worker thread,
// with its own decoder context, reporting log lines and progress to an observer.
#pragma once

#include <memory>
#include <string>

#include "DecodeAnalysis.h"
#include "Job.h"
#include "OutputFiles.h"
#include "Settings.h"
#include "VideoFile.h"

namespace tessaro {

struct DecodeJobConfig {
    VideoFile* input = nullptr;  // an opened bitstream; closed by the job when it ends
    // The raw output. Empty: the bitstream's decodedName beside it (or in the cache folder) under a
    // free name; the chosen path is in the result. Otherwise this file is created or truncated.
    std::string outputPath;
    // Write a Y4M sequence (stream header, a frame marker before each picture) at this rate
    // instead of raw pictures.
    bool y4m = false;
    double y4mRate = 30.0;
    // When not -1: the pictures go to this descriptor (standard output; neither created nor
    // closed by the job), and outputPath only names it in the log.
    int outputFd = -1;
    // Collect the macroblock analysis of every output picture and the stream's header facts
    // (analysis() after the run).
    bool collectAnalysis = false;
    CodecSettings settings;
};

class DecodeJob final : public Job {
  public:
    ~DecodeJob() override { StopAndJoin(); }
    // Starts the worker. False when `input` is not an opened bitstream, or (with `error` saying
    // so) when the named output is the bitstream itself; nothing is created then.
    bool Start(const DecodeJobConfig& config, JobObserver& observer, std::string* error = nullptr);

    // With collectAnalysis: what the last run collected, once it has ended (after Wait()); null
    // otherwise. The pictures stand in the order of the output frames.
    std::shared_ptr<const StreamAnalysis> analysis() const { return analysis_; }

  private:
    void Run() override;
    std::shared_ptr<StreamAnalysis> analysis_;
    DecodeJobConfig config_;
    JobObserver* observer_ = nullptr;
    OutputFile named_;  // a named output, written under a temporary name until the end
};

}  // namespace tessaro
