#include "Job.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessaro {

const char* JobStatusName(JobStatus status) {
    switch (status) {
        case JobStatus::kCompleted:
            return "completed";
        case JobStatus::kStopped:
            return "stopped";
        case JobStatus::kFailed:
            break;
    }
    return "failed";
}

uint64_t ReportHandoff::Begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ++issued_;
}

void ReportHandoff::Done(uint64_t ticket) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ticket > handled_) handled_ = ticket;
    }
    changed_.notify_all();
}

bool ReportHandoff::Await(uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return handled_ >= ticket || abandoned_; });
    return handled_ >= ticket;
}

void ReportHandoff::Abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

void ReportHandoff::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = false;
}

bool ReportHandoff::Abandoned() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return abandoned_;
}

Job::~Job() {
    StopAndJoin();
}

void Job::Stop() {
    running_.store(false);
    if (stopRequested_.exchange(true)) return;  // one StopRequested per stop
    if (JobObserver* observer = observer_.load()) observer->StopRequested();
}

void Job::StopAndJoin() {
    Stop();
    Wait();
}

const JobResult& Job::Wait() {
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (worker_.joinable()) worker_.join();
    return result_;
}

void Job::LaunchWith(JobObserver* observer) {
    Wait();
    result_ = JobResult{};
    stopRequested_.store(false);
    observer_.store(observer);
    running_.store(true);
    std::lock_guard<std::mutex> lock(joinMutex_);
    worker_ = std::thread([this] {
        Run();
        observer_.store(nullptr);
    });
}

void Job::Finish(JobObserver& observer, bool ranToEnd, const std::string& failure) {
    if (!failure.empty()) {
        result_.status = JobStatus::kFailed;
        result_.reason = failure;
    } else if (ranToEnd) {
        result_.status = JobStatus::kCompleted;
        result_.reason.clear();
    } else if (stopRequested_.load()) {
        result_.status = JobStatus::kStopped;
        result_.reason = "stopped";
    } else {
        result_.status = JobStatus::kFailed;
        result_.reason = "the run ended early";
    }
    result_.completed = result_.status == JobStatus::kCompleted;
    running_.store(false);
    observer.Finished(result_);
}

std::string SystemReason(int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in `buffer`.
    return strerror_r(error, buffer, sizeof buffer);
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        out.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

namespace {

double Sse(const uint8_t* a, const uint8_t* b, size_t n) {
    uint64_t sum = 0;  // exact: at most 65025 per sample
    for (size_t i = 0; i < n; ++i) {
        const int d = a[i] - b[i];
        sum += static_cast<uint64_t>(d * d);
    }
    return static_cast<double>(sum);
}

double Psnr(double mse) {
    return mse == 0.0 ? 1000.0 : 10.0 * std::log10(65025.0 / mse);
}

}  // namespace

void MeasureFrameSnr(const uint8_t* a, const uint8_t* b, int width, int height, double* snrY, double* snrU,
                     double* snrV) {
    const size_t n = static_cast<size_t>(width) * height;
    const size_t quarter = n / 4;
    // Each mean is a plain quotient; the encoder multiplies its chroma sums by 1/(N/4) instead,
    // which can differ in the last bit but not in the printed digits.
    const auto mean = [](double sse, size_t count) { return count ? sse / static_cast<double>(count) : 0.0; };
    *snrY = Psnr(mean(Sse(a, b, n), n));
    *snrU = Psnr(mean(Sse(a + n, b + n, quarter), quarter));
    *snrV = Psnr(mean(Sse(a + n + quarter, b + n + quarter, quarter), quarter));
}

}  // namespace tessaro
