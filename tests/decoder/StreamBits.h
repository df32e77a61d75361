// Test helper: builds a bit stream by hand, codes most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "R263AVO/OutPutCoefficients.h"

namespace decodertest {

struct Bits {
    std::vector<uint8_t> bytes;
    size_t count = 0;
    Bits& Put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (count % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (count % 8));
            ++count;
        }
        return *this;
    }
    // One code of the encoder's tables.
    Bits& Put(r263avo::VlcCode c) { return Put(c.code, c.length); }
    // Zero bits up to the next byte boundary.
    Bits& Align() {
        while (count % 8) Put(0, 1);
        return *this;
    }
};

}  // namespace decodertest
