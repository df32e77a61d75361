// What the encode, decode and compare jobs share: the observer they report to, and the worker
// thread with its `running` flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tessaro {

// The summary of a finished run.
struct JobResult {
    bool completed = false;  // ran to its end (false: stopped, failed, or refused)
    int frames = 0;          // frames encoded, decoded, or compared
    std::string outputPath;  // the file written, if any
    uint64_t outputBytes = 0;
};

// Receives a job's reports. Every call is made on the worker thread, in order, and the worker waits
// until it returns; an interface that must handle them on its own thread marshals each call there
// and waits for it.
class JobObserver {
  public:
    virtual ~JobObserver() = default;
    // One log line ("-> ..." or an empty line that ends a summary).
    virtual void Log(const std::string& line) = 0;
    // A problem the user must see (a message box in the window application).
    virtual void Error(const std::string& message) { (void)message; }
    // Progress indicator: shown with a label ("Encoding:", "Decoding:") and a range, moved, hidden.
    virtual void ProgressStart(const std::string& label, int minimum, int maximum) {
        (void)label, (void)minimum, (void)maximum;
    }
    virtual void ProgressPosition(int position) { (void)position; }
    virtual void ProgressStop() {}
    virtual void Finished(const JobResult& result) { (void)result; }
};

// A job that runs on a worker thread of its own. Stop() asks it to end after the current frame.
class Job {
  public:
    virtual ~Job();
    Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    void Stop() { running_.store(false); }
    bool Running() const { return running_.load(); }
    // Waits for the worker to end; returns its result.
    const JobResult& Wait();

  protected:
    // Starts `Run` on a new thread with running set.
    void Launch();
    virtual void Run() = 0;
    std::atomic<bool> running_{false};
    JobResult result_;

  private:
    std::thread worker_;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// PSNR of one frame pair of width x height (planar 4:2:0), the measure the encoder also uses:
// 10 log10(65025 / MSE) per plane, MSE = SSE / N for luma and SSE / (N/4) for each chroma plane
// (N/4 in integer division), 1000.0 for a plane without error.
void MeasureFrameSnr(const uint8_t* a, const uint8_t* b, int width, int height, double* snrY, double* snrU,
                     double* snrV);

}  // namespace tessaro
