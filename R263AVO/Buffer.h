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
    uint64_t accumulator_ = 0;  // the pending bits in its low `pending_` bits (older bits above)
    int pending_ = 0;           // 0..7 between calls
    bool overflowed_ = false;

    void StoreByte(uint8_t byte);
};

// Inline: the coefficient coders call it for every code.
inline void BitWriter::StoreByte(uint8_t byte) {
    // A full buffer drops the byte instead of writing past its end; the byte count stays a
    // valid length of what is stored.
    if (byteCount_ < capacity_) {
        out_[byteCount_++] = byte;
    } else {
        overflowed_ = true;
    }
}

inline void BitWriter::PutBits(int n, uint32_t value) {
    if (n <= 0) return;
    if (n > 32) n = 32;
    totalBits_ += static_cast<uint32_t>(n);
    // The field joins the fewer than 8 pending bits in a 64-bit word, and every byte completed is
    // stored at once, so the bytes stored are always those of the bits appended so far.
    const uint64_t field = value & (n == 32 ? 0xffffffffull : (1ull << n) - 1u);
    accumulator_ = (accumulator_ << n) | field;
    pending_ += n;
    while (pending_ >= 8) {
        pending_ -= 8;
        StoreByte(static_cast<uint8_t>(accumulator_ >> pending_));
    }
}

// Upper bound of the bytes one picture can produce for the given macroblock count, used to size
// the output buffer so that no content can overflow it.
size_t WorstCasePictureBytes(int macroblocks);

}  // namespace r263avo
