// Bit writer: the encoder's only output path. Fields are appended most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace r263avo {

class BitWriter {
  public:
    // Points the writer at `out` (capacity bytes) and clears every counter.
    void Reset(uint8_t* out, size_t capacity);

    // Appends the low n bits (0..32) of value, highest first. n = 0 appends nothing.
    void PutBits(int n, uint32_t value);

    // Appends zero bits up to the next multiple of 8 of the total bit count; returns how many.
    int AlignToByte();

    // Complete bytes stored since the last ResetByteCount().
    uint32_t ByteCount() const { return byteCount_; }
    void ResetByteCount() { byteCount_ = 0; }

    // Bits appended since Reset(); never reset during a run (rate control reads it). Counted
    // modulo 2^32, so a very long run wraps instead of overflowing.
    int32_t TotalBits() const { return static_cast<int32_t>(totalBits_); }

    // True once a byte had to be dropped because the buffer was full (the buffer is sized for
    // the worst case, so this indicates a bug, not a content problem).
    bool Overflowed() const { return overflowed_; }

    const uint8_t* Data() const { return out_; }

  private:
    uint8_t* out_ = nullptr;
    size_t capacity_ = 0;
    uint32_t byteCount_ = 0;
    uint32_t totalBits_ = 0;
    uint32_t accumulator_ = 0;  // the byte being assembled
    uint32_t mask_ = 128;       // next bit position within the accumulator
    bool overflowed_ = false;

    void StoreByte();
};

// Upper bound of the bytes one picture can produce for the given macroblock count, used to size
// the output buffer so that no content can overflow it.
size_t WorstCasePictureBytes(int macroblocks);

}  // namespace r263avo
