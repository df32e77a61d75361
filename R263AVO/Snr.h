// Peak signal-to-noise ratio of the reconstruction against the input, per plane.
#pragma once

#include <cstdint>

#include "Picture.h"

namespace r263avo {

struct SnrValues {
    double y = 0.0, u = 0.0, v = 0.0;
};

// PSNR in dB of a mean squared error, peak 255; 1000.0 when the error is 0.
double PsnrFromMse(double mse);

// Compares `recon` (coded geometry, at least inputWidth x inputHeight) with the caller's planar
// picture of inputWidth x inputHeight (chroma inputWidth/2 x inputHeight/2). The measurement
// covers the input size only: the coded picture's padding is not part of the input, and the
// caller's picture is never read beyond its own size.
SnrValues ComputeSnr(const ConstPictureView& recon, const uint8_t* input, int inputWidth, int inputHeight);

// The same over the top-left inputWidth x inputHeight of two pictures at their own sizes (each
// view's width is its row stride), e.g. a reconstruction against the padded input store it was
// coded from.
SnrValues ComputeSnr(const ConstPictureView& recon, const ConstPictureView& input, int inputWidth,
                     int inputHeight);

}  // namespace r263avo
