#include "Snr.h"

#include <cmath>

namespace r263avo {

namespace {

constexpr double kPeakSquared = 65025.0;  // 255 x 255
constexpr double kNoError = 1000.0;

// Sum of squared differences of a w x h region; both planes with their own strides.
double PlaneSse(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int w, int h) {
    double sse = 0.0;
    for (int j = 0; j < h; ++j) {
        const uint8_t* ra = a + static_cast<long>(j) * strideA;
        const uint8_t* rb = b + static_cast<long>(j) * strideB;
        int64_t row = 0;  // at most 2048 x 65025, exact in 64 bits
        for (int i = 0; i < w; ++i) {
            const int d = ra[i] - rb[i];
            row += d * d;
        }
        sse += static_cast<double>(row);
    }
    return sse;
}

}  // namespace

double PsnrFromMse(double mse) {
    return mse == 0.0 ? kNoError : 10.0 * std::log10(kPeakSquared / mse);
}

SnrValues ComputeSnr(const ConstPictureView& recon, const ConstPictureView& input, int inputWidth,
                     int inputHeight) {
    const int cw = inputWidth / 2;
    const int ch = inputHeight / 2;
    const long n = static_cast<long>(inputWidth) * inputHeight;
    const double sseY = PlaneSse(recon.y, recon.width, input.y, input.width, inputWidth, inputHeight);
    const double sseU = PlaneSse(recon.u, recon.width / 2, input.u, input.width / 2, cw, ch);
    const double sseV = PlaneSse(recon.v, recon.width / 2, input.v, input.width / 2, cw, ch);

    const double chromaScale = 1.0 / static_cast<double>(n / 4);
    SnrValues s;
    s.y = PsnrFromMse(sseY / static_cast<double>(n));
    s.u = PsnrFromMse(sseU * chromaScale);
    s.v = PsnrFromMse(sseV * chromaScale);
    return s;
}

SnrValues ComputeSnr(const ConstPictureView& recon, const uint8_t* input, int inputWidth, int inputHeight) {
    // The caller's picture is planar at its own size, so its width is its stride.
    const ConstPictureView in = MakeConstPictureView(input, inputWidth, inputHeight);
    return ComputeSnr(recon, in, inputWidth, inputHeight);
}

}  // namespace r263avo
