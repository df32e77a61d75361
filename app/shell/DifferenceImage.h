// The picture of the difference view, without any widget: the absolute difference of two luma
// planes, multiplied by a gain and clipped to 255, so that small coding errors become visible as
// grey on black. Two equal planes give an all-black picture at every gain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaro::shell {

// The gains the view offers (x1 shows the plain difference).
constexpr int kDifferenceGains[] = {1, 2, 4, 8, 16, 32};
constexpr int kDefaultDifferenceGain = 8;

// Clamps `gain` to 1..32.
int ClampDifferenceGain(int gain);

// out[i] = min(255, |a[i] - b[i]| x gain) for i in 0..count-1. Returns the largest |a[i] - b[i]|
// (0 when the planes are equal). `out` may not overlap `a` or `b`.
int AmplifiedDifference(const uint8_t* a, const uint8_t* b, size_t count, int gain, uint8_t* out);

}  // namespace tessaro::shell
