// Macroblock-layer writers, scan orders and the block writers (event formation and escapes).
#include "EncodeCoefficients.h"

#include <bit>
#include <cstring>

#include "OutPutCoefficients.h"

namespace r263avo {

// H.263 Figure 14: zigzag scan (scan position -> raster index).
constexpr uint8_t ZigzagScan[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// H.263 Figure I.2 a): alternate-horizontal scan (Annex I, vertical prediction, mode 2).
constexpr uint8_t AltHorizontalScan[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63,
};

// H.263 Figure I.2 b): alternate-vertical scan (Annex I, horizontal prediction, mode 3).
constexpr uint8_t AltVerticalScan[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};

void WriteMcbpcI(BitWriter& bw, int type, int cbpc) {
    PutVlc(bw, McbpcICodes[type == kMbIntraQ ? 1 : 0][cbpc & 3]);
}

void WriteMcbpcP(BitWriter& bw, int type, int cbpc) {
    if (type < kMbInter) type = kMbInter;
    if (type > kMbInter4VQ) type = kMbInter4VQ;
    PutVlc(bw, McbpcPCodes[type][cbpc & 3]);
}

void WriteCbpy(BitWriter& bw, int cbpy) {
    PutVlc(bw, CbpyCodes[cbpy & 15]);
}

void WriteIntraMode(BitWriter& bw, int aicMode) {
    // INTRA_MODE of Annex I: 0 DC only, 10 vertical DC and AC, 11 horizontal DC and AC.
    if (aicMode == 2) {
        bw.PutBits(2, 2);
    } else if (aicMode == 3) {
        bw.PutBits(2, 3);
    } else {
        bw.PutBits(1, 0);
    }
}

int ModifiedQuantChange(int quant, bool secondColumn) {
    if (quant < 1) quant = 1;
    if (quant > 31) quant = 31;
    // H.263 Table T.1, DQUANT 10 and DQUANT 11 columns.
    if (!secondColumn) {
        if (quant == 1) return 2;
        if (quant <= 10) return -1;
        if (quant <= 20) return -2;
        return -3;
    }
    if (quant <= 10) return 1;
    if (quant <= 20) return 2;
    if (quant <= 28) return 3;
    if (quant == 29) return 2;
    if (quant == 30) return 1;
    return -5;
}

void WriteDquant(BitWriter& bw, int change, bool modifiedQuant, int newQuant) {
    if (!modifiedQuant) {
        // H.263 Table 12: 00 = -1, 01 = -2, 10 = +1, 11 = +2.
        if (change < -2) change = -2;
        if (change > 2) change = 2;
        static constexpr uint32_t kCodes[5] = {1, 0, 2, 2, 3};  // change -2..+2 (0 as +1)
        bw.PutBits(2, kCodes[change + 2]);
        return;
    }
    if (newQuant < 1) newQuant = 1;
    if (newQuant > 31) newQuant = 31;
    if (change != 0) {
        const int oldQuant = newQuant - change;
        if (oldQuant >= 1 && oldQuant <= 31) {
            if (change == ModifiedQuantChange(oldQuant, false)) {
                bw.PutBits(2, 2);
                return;
            }
            if (change == ModifiedQuantChange(oldQuant, true)) {
                bw.PutBits(2, 3);
                return;
            }
        }
    }
    // Absolute form: 0 followed by the new QUANT in 5 bits.
    bw.PutBits(1, 0);
    bw.PutBits(5, static_cast<uint32_t>(newQuant));
}

int WrapMvd(int mvd) {
    return ((mvd + 32) & 63) - 32;
}

void WriteMvdComponent(BitWriter& bw, int mvd) {
    const int index = WrapMvd(mvd) & 63;  // 0..63, negative differences at 32..63
    const int magnitude = index <= 31 ? index : 64 - index;
    PutVlc(bw, MvdCodes[magnitude]);
    if (index != 0) bw.PutBits(1, index > 31 ? 1u : 0u);
}

namespace {

inline int WriteRunLevel(BitWriter& bw, VlcCode vlc, int level) {
    if (vlc.length == 0) return 0;
    // The code and the sign bit after it as one field.
    bw.PutBits(vlc.length + 1, (uint32_t{vlc.code} << 1) | (level < 0 ? 1u : 0u));
    return vlc.length;
}

// The event writers of the two run-level tables, as types so that CodeEvents has them inline.
struct TcoefEvent {
    int operator()(BitWriter& bw, int run, int level, int last) const {
        return WriteRunLevel(bw, TcoefCode(last, run, level < 0 ? -level : level), level);
    }
};
struct AicEvent {
    int operator()(BitWriter& bw, int run, int level, int last) const {
        return WriteRunLevel(bw, AicCode(last, run, level < 0 ? -level : level), level);
    }
};

// Bit i of the result set when 16-bit lane i of x is nonzero.
inline uint64_t LaneMask(uint64_t x) {
    // Each lane folds onto its lowest bit (the shifts add up to 15, so no lane reaches the one
    // below), and a multiplication gathers the four lowest bits.
    x |= x >> 8;
    x |= x >> 4;
    x |= x >> 2;
    x |= x >> 1;
    x &= 0x0001000100010001ull;
    return (x * 0x0001000200040008ull) >> 48;
}

// Bit p set for every nonzero levels[p] (raster order), read four levels at a time: most words of
// a quantised block are zero and cost one test.
inline uint64_t NonzeroMask(const int16_t levels[64]) {
    uint64_t mask = 0;
    for (int w = 0; w < 16; ++w) {
        uint64_t x;
        std::memcpy(&x, levels + 4 * w, sizeof(x));
        if (x == 0) continue;
        if constexpr (std::endian::native == std::endian::little) {
            mask |= LaneMask(x) << (4 * w);
        } else {
            for (int i = 0; i < 4; ++i) {
                if (levels[4 * w + i] != 0) mask |= uint64_t{1} << (4 * w + i);
            }
        }
    }
    return mask;
}

// A scan order with its inverse (raster index -> scan position).
struct ScanOrder {
    const uint8_t* scan;
    uint8_t position[64];
};

constexpr ScanOrder MakeScanOrder(const uint8_t* scan) {
    ScanOrder order{scan, {}};
    for (int k = 0; k < 64; ++k) order.position[scan[k] & 63] = static_cast<uint8_t>(k);
    return order;
}

constexpr ScanOrder kZigzagOrder = MakeScanOrder(ZigzagScan);
constexpr ScanOrder kAltHorizontalOrder = MakeScanOrder(AltHorizontalScan);
constexpr ScanOrder kAltVerticalOrder = MakeScanOrder(AltVerticalScan);

// Writes one event per nonzero level at scan positions first..63; the last one carries LAST = 1.
// Events without a table code are escaped, and the level the escape carried is stored back so
// that the caller reconstructs what the decoder will. The nonzero levels are found from a mask in
// scan order, so the cost follows their count rather than the position of the last one.
template <typename Lookup>
void CodeEvents(BitWriter& bw, int16_t levels[64], const ScanOrder& order, int first, bool modifiedQuant,
                int max8Bit, Lookup lookup) {
    uint64_t ordered = 0;
    for (uint64_t raster = NonzeroMask(levels); raster != 0; raster &= raster - 1)
        ordered |= uint64_t{1} << order.position[std::countr_zero(raster)];
    ordered &= ~uint64_t{0} << first;
    int heldPos = -1;
    int heldRun = 0;
    const auto writeEvent = [&](int last) {
        const int level = levels[heldPos];
        if (lookup(bw, heldRun, level, last) == 0) {
            levels[heldPos] =
                static_cast<int16_t>(WriteEscape(bw, last, heldRun, level, modifiedQuant, max8Bit));
        }
    };
    int previous = first - 1;
    for (; ordered != 0; ordered &= ordered - 1) {
        const int k = std::countr_zero(ordered);
        if (heldPos >= 0) writeEvent(0);
        heldPos = order.scan[k];
        heldRun = k - previous - 1;
        previous = k;
    }
    if (heldPos >= 0) writeEvent(1);
}

// The order of one of the three scans; the inverse of any other is made here.
ScanOrder OrderOf(const uint8_t scan[64]) {
    if (scan == ZigzagScan) return kZigzagOrder;
    if (scan == AltHorizontalScan) return kAltHorizontalOrder;
    if (scan == AltVerticalScan) return kAltVerticalOrder;
    return MakeScanOrder(scan);
}

}  // namespace

int TcoefVlcLookup(BitWriter& bw, int run, int level, int last) {
    return TcoefEvent{}(bw, run, level, last);
}

int AicVlcLookup(BitWriter& bw, int run, int level, int last) {
    return AicEvent{}(bw, run, level, last);
}

void CodeIntraBlock(BitWriter& bw, int16_t levels[64], bool modifiedQuant) {
    // INTRADC: 0 and 128 (as 1000 0000) are not valid codes; 128 is written as 1111 1111.
    int dc = levels[0];
    if (dc < 1) dc = 1;
    if (dc > 254) dc = 254;
    levels[0] = static_cast<int16_t>(dc);
    bw.PutBits(8, dc == 128 ? 255u : static_cast<uint32_t>(dc));
    CodeEvents(bw, levels, kZigzagOrder, 1, modifiedQuant, 127, TcoefEvent{});
}

void CodeInterBlock(BitWriter& bw, int16_t levels[64], bool modifiedQuant) {
    CodeEvents(bw, levels, kZigzagOrder, 0, modifiedQuant, 127, TcoefEvent{});
}

void CodeAicBlock(BitWriter& bw, int16_t levels[64], const uint8_t scan[64], bool modifiedQuant) {
    // Annex I blocks keep 127 out of the plain 8-bit level field.
    CodeEvents(bw, levels, OrderOf(scan), 0, modifiedQuant, 126, AicEvent{});
}

bool BlockHasLevels(const int16_t levels[64], int first) {
    // Every scan starts at raster position 0, so for first 0 or 1 the positions are the same
    // in all three scans.
    for (int k = first < 0 ? 0 : first; k < 64; ++k) {
        if (levels[ZigzagScan[k]] != 0) return true;
    }
    return false;
}

}  // namespace r263avo
