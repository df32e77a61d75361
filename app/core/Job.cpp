#include "Job.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tessaro {

Job::~Job() {
    Stop();
    if (worker_.joinable()) worker_.join();
}

const JobResult& Job::Wait() {
    if (worker_.joinable()) worker_.join();
    return result_;
}

void Job::Launch() {
    if (worker_.joinable()) worker_.join();
    result_ = JobResult{};
    running_.store(true);
    worker_ = std::thread([this] { Run(); });
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
