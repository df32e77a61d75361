// The comparison job: PSNR per plane of two raw sequences of the same format, frame by frame, with
// the averages and the count, as log lines.
#pragma once

#include <string>

#include "Job.h"
#include "VideoFile.h"

namespace tessaro {

class CompareJob final : public Job {
  public:
    ~CompareJob() override { StopAndJoin(); }
    // Starts the worker on two open raw sequences (both must outlive the run). When their formats
    // or sizes differ, reports "Can't compare video files of\ndifferent formats/frame sizes"
    // through observer.Error(), logs nothing and returns false.
    bool Start(const VideoFile& first, const VideoFile& second, JobObserver& observer);

  private:
    void Run() override;
    const VideoFile* first_ = nullptr;
    const VideoFile* second_ = nullptr;
    JobObserver* observer_ = nullptr;
};

}  // namespace tessaro
