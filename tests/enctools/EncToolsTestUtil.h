// Helpers of the encoder coding-tool tests: capturing written bits as a string of digits and
// double-precision reference transforms.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "R263AVO/Buffer.h"

namespace enctools_test {

// A bit writer over its own buffer whose output can be read back as "0101...".
class BitCapture {
  public:
    explicit BitCapture(size_t capacity = 1 << 16) : buffer_(capacity) { bw.Reset(buffer_.data(), capacity); }

    // The bits written so far, as binary digits. Completes the last byte with zero bits.
    std::string Bits() {
        const int n = bw.TotalBits();
        bw.AlignToByte();
        std::string s;
        for (int i = 0; i < n; ++i) s += ((buffer_[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
        return s;
    }

    r263avo::BitWriter bw;

  private:
    std::vector<uint8_t> buffer_;
};

// Removes the spaces of a bit pattern written for readability.
inline std::string Pattern(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c != ' ') out += c;
    }
    return out;
}

inline double DctC(int k) {
    return k == 0 ? std::sqrt(0.5) : 1.0;
}

// F[8v + h] = 1/4 C(v) C(h) sum f[8r + c] cos((2r+1) v pi/16) cos((2c+1) h pi/16).
inline void ReferenceDct(const double in[64], double out[64]) {
    for (int v = 0; v < 8; ++v) {
        for (int h = 0; h < 8; ++h) {
            double sum = 0;
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c) {
                    sum += in[8 * r + c] * std::cos((2 * r + 1) * v * M_PI / 16) *
                           std::cos((2 * c + 1) * h * M_PI / 16);
                }
            }
            out[8 * v + h] = 0.25 * DctC(v) * DctC(h) * sum;
        }
    }
}

inline void ReferenceIdct(const double in[64], double out[64]) {
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            double sum = 0;
            for (int v = 0; v < 8; ++v) {
                for (int h = 0; h < 8; ++h) {
                    sum += DctC(v) * DctC(h) * in[8 * v + h] * std::cos((2 * r + 1) * v * M_PI / 16) *
                           std::cos((2 * c + 1) * h * M_PI / 16);
                }
            }
            out[8 * r + c] = 0.25 * sum;
        }
    }
}

}  // namespace enctools_test
