// Bit reader over a stream held whole in memory, most significant bit first.
//
// The reader never touches a byte at or past `size`: bits beyond the end read as zero, and a skip
// past the end leaves the reader parked at the end (byte index = size, bit index 0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace r263iri {

struct BitReader {
    const uint8_t* data = nullptr;
    uint32_t size = 0;       // bytes of the stream (capped to 32 bits)
    uint32_t byteIndex = 0;  // byte that holds the next bit
    uint32_t bitIndex = 0;   // 0..7, 0 = most significant bit of that byte

    void Reset(const uint8_t* stream, size_t streamSize) {
        Attach(stream, streamSize);
        byteIndex = 0;
        bitIndex = 0;
    }

    // Points the reader at the stream without moving its position.
    void Attach(const uint8_t* stream, size_t streamSize) {
        data = stream;
        size = streamSize > 0xFFFFFF00u ? 0xFFFFFF00u : static_cast<uint32_t>(streamSize);
        if (!data) size = 0;
        if (byteIndex >= size) {
            byteIndex = size;
            bitIndex = 0;
        }
    }

    bool AtEnd() const { return byteIndex >= size; }

    // Bits left before the end of the stream.
    uint64_t BitsLeft() const { return AtEnd() ? 0 : (uint64_t(size - byteIndex) * 8u - bitIndex); }

    // The next n bits (1..25) without consuming them.
    uint32_t ShowBits(int n) const {
        uint32_t word;
        if (uint64_t(byteIndex) + 4 <= size) {
            const uint8_t* p = data + byteIndex;
            word = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        } else {
            word = 0;
            for (uint32_t i = 0; i < 4; ++i) {
                uint32_t at = byteIndex + i;
                word = (word << 8) | (at < size ? data[at] : 0u);
            }
        }
        return (word << bitIndex) >> (32 - n);
    }

    void SkipBits(uint32_t n) {
        uint64_t bit = uint64_t(byteIndex) * 8u + bitIndex + n;
        if (bit >= uint64_t(size) * 8u) {
            byteIndex = size;
            bitIndex = 0;
            return;
        }
        byteIndex = static_cast<uint32_t>(bit >> 3);
        bitIndex = static_cast<uint32_t>(bit & 7);
    }

    uint32_t GetBits(int n) {
        uint32_t v = ShowBits(n);
        SkipBits(static_cast<uint32_t>(n));
        return v;
    }

    uint32_t GetBit() { return GetBits(1); }

    void ByteAlign() {
        if (bitIndex != 0) SkipBits(8 - bitIndex);
    }
};

}  // namespace r263iri

namespace r263iri {

// Searches the next picture start code (17-bit prefix then 5 zero bits) bit by bit and consumes
// its 22 bits. A prefix followed by other bits (GOB, slice or end-of-sequence code) is passed over.
// Returns false, the reader parked at the end, when no complete code remains.
bool SearchPictureStartCode(BitReader& r);

}  // namespace r263iri
