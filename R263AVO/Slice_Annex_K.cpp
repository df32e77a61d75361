// Slice and GOB headers.
#include "Slice_Annex_K.h"

#include <algorithm>
#include <cstdint>

namespace r263avo {

namespace {

constexpr uint32_t kStartCodePrefix = 1;  // 16 zeros then a one, in 17 bits
constexpr int kStartCodeBits = 17;
constexpr int kQuantBits = 5;

uint32_t QuantField(int quant) {
    return static_cast<uint32_t>(std::clamp(quant, 1, 31));
}

}  // namespace

int MbaFieldWidth(int macroblocks) {
    // H.263 Table K.2: the largest macroblock count of each width.
    struct Row {
        int maxMacroblocks;
        int bits;
    };
    static constexpr Row kTable[] = {{48, 6}, {99, 7}, {396, 9}, {1584, 11}, {6336, 13}};
    for (const Row& r : kTable) {
        if (macroblocks <= r.maxMacroblocks) return r.bits;
    }
    return 14;
}

bool SliceStartsAt(int mbNumber, int mbPerSlice) {
    return mbNumber % std::max(mbPerSlice, 1) == 0;
}

void WriteSliceHeader(BitWriter& bw, int mba, int mbaWidth, int quant) {
    const bool first = mba <= 0;
    if (!first) {
        bw.AlignToByte();
        bw.PutBits(kStartCodeBits, kStartCodePrefix);  // SSC
    }
    bw.PutBits(1, 1);  // SEPB1
    bw.PutBits(mbaWidth, static_cast<uint32_t>(std::max(mba, 0)));
    // With CPM 0, SEPB2 keeps a wide MBA field from emulating a start code.
    if (mbaWidth >= 12) bw.PutBits(1, 1);
    if (!first) bw.PutBits(kQuantBits, QuantField(quant));  // SQUANT
    bw.PutBits(1, 1);                                       // SEPB3
    if (!first) bw.PutBits(2, 0);                           // GFID
}

void WriteGobHeader(BitWriter& bw, int gobNumber, int quant) {
    bw.AlignToByte();
    bw.PutBits(kStartCodeBits, kStartCodePrefix);  // GBSC
    bw.PutBits(5, static_cast<uint32_t>(gobNumber) & 31u);
    bw.PutBits(2, 0);  // GFID
    bw.PutBits(kQuantBits, QuantField(quant));
}

}  // namespace r263avo
