#include "DifferenceImage.h"

#include <algorithm>

namespace tessaro::shell {

int ClampDifferenceGain(int gain) {
    return std::clamp(gain, 1, 32);
}

int AmplifiedDifference(const uint8_t* a, const uint8_t* b, size_t count, int gain, uint8_t* out) {
    gain = ClampDifferenceGain(gain);
    int largest = 0;
    for (size_t i = 0; i < count; ++i) {
        const int d = a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];  // 0..255
        largest = std::max(largest, d);
        out[i] = static_cast<uint8_t>(std::min(255, d * gain));  // d x 32 fits in int
    }
    return largest;
}

}  // namespace tessaro::shell
