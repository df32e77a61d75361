// What the encode, decode and compare jobs share: the observer they report to, the worker thread
// with its `running` flag, and the rules for stopping, waiting for and destroying a job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tessaro {

// How a run ended.
enum class JobStatus {
    kCompleted,  // ran to its end
    kStopped,    // Stop() was called (by the user, a signal, or the job's destruction)
    kFailed,     // an input, an output or the codec failed; `reason` says which and why
};

// "completed", "stopped" or "failed".
const char* JobStatusName(JobStatus status);

// The summary of a finished run.
struct JobResult {
    bool completed = false;  // status == kCompleted
    JobStatus status = JobStatus::kFailed;
    std::string reason;      // empty when completed; otherwise what ended the run
    int frames = 0;          // frames encoded, decoded, or compared
    std::string outputPath;  // the file written, if any
    uint64_t outputBytes = 0;
    // Decode runs: pictures the decoder could not give back, by reason (see DecodeJob.h).
    int skippedPictures = 0;  // picture data the decoder passed over without a picture
    int damagedPictures = 0;  // pictures whose data was too short or broken to decode
};

// One coded picture of an encode run (in coding order), beside its log line.
struct PictureReport {
    int frame = 0;       // input frame number
    char type = 'P';     // 'I', 'P' or 'B'
    uint32_t bytes = 0;  // bytes of the bitstream the picture took (0 for a B-picture sent with its anchor)
    bool snrMeasured = false;  // General/ShowSNR was on: the three values below hold
    double snrY = 0.0, snrU = 0.0, snrV = 0.0;
};

// One compared frame of a compare run, beside its log line (1000 dB for identical planes).
struct FrameComparison {
    int frame = 0;
    double snrY = 0.0, snrU = 0.0, snrV = 0.0;
};

// Receives a job's reports.
//
// Threads. Every report is made on the job's worker thread, in order, and the worker waits until
// the call returns (the worker is blocked meanwhile, so a report is never overtaken by the next).
// An interface that handles reports on its own thread may hand each one over (a queued call) and
// have the worker wait for it to be handled, but that wait must end when StopRequested() is called:
// the interface thread may call Stop(), Wait() or destroy the job at any moment, and Wait() and
// destruction block until the worker has ended. ReportHandoff below does exactly this.
//
// StopRequested() is called on the thread that calls Stop() (or destroys the job), once per stop,
// possibly while the worker is inside another report. After it, every report the worker still
// makes (the terminated lines, ProgressStop, Finished) must return without waiting for the
// interface thread; handing them over without waiting keeps their order.
//
// Lifetime: the observer must outlive the run (until Wait() returns or the job is destroyed).
// Reports handed over to another thread must not refer to the job, which may be gone by the time
// they are handled; they carry their data by value.
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
    // Encode runs: each coded picture, made just after its SNR line would be (also when the line
    // is not logged).
    virtual void Picture(const PictureReport& picture) { (void)picture; }
    // Compare runs: each compared frame, made just after its log line.
    virtual void Compared(const FrameComparison& frame) { (void)frame; }
    // The last report of a run.
    virtual void Finished(const JobResult& result) { (void)result; }
    // See above: the job is being stopped; abandon any wait for the interface thread.
    virtual void StopRequested() {}
};

// The worker's side of a report handed over to another thread. The observer calls Begin() before
// handing a report over, the receiving thread calls Done(ticket) once it has handled it, and the
// worker calls Await(ticket), which returns when the report was handled or when Abandon() was
// called (from the observer's StopRequested()). After Abandon(), Await() returns at once until
// Reset() (call it when a new run starts, in ProgressStart or before Start()).
class ReportHandoff {
  public:
    uint64_t Begin();
    void Done(uint64_t ticket);
    // True when the report was handled; false when the wait was abandoned.
    bool Await(uint64_t ticket);
    void Abandon();
    void Reset();
    bool Abandoned() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t issued_ = 0, handled_ = 0;
    bool abandoned_ = false;
};

// A job that runs on a worker thread of its own. Stop() asks it to end after the current frame.
//
// Destroying a job stops it and waits for its worker before any of its members go. Every class
// that derives from Job must therefore call StopAndJoin() first thing in its destructor (the
// jobs of this library are final and do so); ~Job() calls it again, harmlessly, for a job whose
// worker never ran.
class Job {
  public:
    virtual ~Job();
    Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Safe from any thread, any number of times, also when no run is under way.
    void Stop();
    bool Running() const { return running_.load(); }
    // True from Stop() until the next run starts.
    bool StopRequested() const { return stopRequested_.load(); }
    // Waits for the worker to end; returns its result. Must not be called from an observer report.
    const JobResult& Wait();

  protected:
    // Starts `Run` on a new thread with running set; `observer` hears StopRequested().
    void Launch(JobObserver& observer) { LaunchWith(&observer); }
    // The same for a job whose observer needs no StopRequested().
    void Launch() { LaunchWith(nullptr); }
    // Stops the worker and joins it; for the destructors of derived jobs.
    void StopAndJoin();
    // Ends the run: the status is failed with `failure` when that is given, else completed when
    // the run reached its end (`ranToEnd`, what its log said), else stopped; clears running and
    // makes the Finished report.
    void Finish(JobObserver& observer, bool ranToEnd, const std::string& failure);
    virtual void Run() = 0;
    std::atomic<bool> running_{false};
    JobResult result_;

  private:
    void LaunchWith(JobObserver* observer);
    std::atomic<bool> stopRequested_{false};
    std::atomic<JobObserver*> observer_{nullptr};
    std::mutex joinMutex_;  // one joiner at a time
    std::thread worker_;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's reason for the last failed call: strerror(errno) of the calling thread.
std::string SystemReason(int error);

// PSNR of one frame pair of width x height (planar 4:2:0), the measure the encoder also uses:
// 10 log10(65025 / MSE) per plane, MSE = SSE / N for luma and SSE / (N/4) for each chroma plane
// (N/4 in integer division), 1000.0 for a plane without error.
void MeasureFrameSnr(const uint8_t* a, const uint8_t* b, int width, int height, double* snrY, double* snrU,
                     double* snrV);

}  // namespace tessaro
