// Bit writer and the worst-case size of one coded picture.
#include "Buffer.h"

namespace r263avo {

void BitWriter::Reset(uint8_t* out, size_t capacity) {
    out_ = out;
    capacity_ = out ? capacity : 0;
    byteCount_ = 0;
    totalBits_ = 0;
    accumulator_ = 0;
    pending_ = 0;
    overflowed_ = false;
}

int BitWriter::AlignToByte() {
    const int r = static_cast<int>(totalBits_ & 7u);
    if (r == 0) return 0;
    PutBits(8 - r, 0);
    return 8 - r;
}

size_t WorstCasePictureBytes(int macroblocks) {
    if (macroblocks < 0) macroblocks = 0;
    // Largest block: INTRADC (8 bits) plus 64 events, each an escape with the Annex T extended
    // level: ESCAPE 7 + LAST 1 + RUN 6 + LEVEL 8 + EXTENDED-LEVEL 11 = 33 bits.
    constexpr size_t kBlockBits = 8 + 64 * 33;
    // Largest macroblock header: COD 1, MCBPC 13, INTRA_MODE 2, CBPY 6, DQUANT 6 and four MVD
    // pairs of 13-bit codes (B-picture headers, with two pairs and a 7-bit MBTYPE, are smaller).
    constexpr size_t kHeaderBits = 1 + 13 + 2 + 6 + 6 + 8 * 13;
    // A slice header (with stuffing) in front of every macroblock: 7 + 17 + 1 + 4 + 14 + 1 + 5 +
    // 3 + 1 + 2 bits; a GOB header is shorter.
    constexpr size_t kSliceHeaderBits = 7 + 17 + 1 + 4 + 14 + 1 + 5 + 3 + 1 + 2;
    constexpr size_t kMacroblockBits = kHeaderBits + 6 * kBlockBits + kSliceHeaderBits;
    // Picture header with every optional field (about 190 bits) and the final stuffing, rounded
    // up generously.
    constexpr size_t kPictureHeaderBytes = 64;
    return static_cast<size_t>(macroblocks) * ((kMacroblockBits + 7) / 8) + kPictureHeaderBytes;
}

}  // namespace r263avo
