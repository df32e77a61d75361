#include "GetFunctions.h"

#include <array>
#include <cstddef>

#include "VlcTable.h"

namespace r263iri {
namespace {

// MCBPC for I pictures: H.263 Table 7. Value = type | CBPC << 4.
constexpr CodeDef kMcbpcIntraCodes[] = {
    {"1", 3 | 0 << 4},      {"001", 3 | 1 << 4},    {"010", 3 | 2 << 4},
    {"011", 3 | 3 << 4},    {"0001", 4 | 0 << 4},   {"000001", 4 | 1 << 4},
    {"000010", 4 | 2 << 4}, {"000011", 4 | 3 << 4}, {"000000001", kMcbpcStuffing},
};

// MCBPC for P pictures: H.263 Table 8, with the INTER4V+Q rows of version 2.
constexpr CodeDef kMcbpcInterCodes[] = {
    {"1", 0 | 0 << 4},
    {"0011", 0 | 1 << 4},
    {"0010", 0 | 2 << 4},
    {"000101", 0 | 3 << 4},
    {"011", 1 | 0 << 4},
    {"0000111", 1 | 1 << 4},
    {"0000110", 1 | 2 << 4},
    {"000000101", 1 | 3 << 4},
    {"010", 2 | 0 << 4},
    {"0000101", 2 | 1 << 4},
    {"0000100", 2 | 2 << 4},
    {"00000101", 2 | 3 << 4},
    {"00011", 3 | 0 << 4},
    {"00000100", 3 | 1 << 4},
    {"00000011", 3 | 2 << 4},
    {"0000011", 3 | 3 << 4},
    {"000100", 4 | 0 << 4},
    {"000000100", 4 | 1 << 4},
    {"000000011", 4 | 2 << 4},
    {"000000010", 4 | 3 << 4},
    {"000000001", kMcbpcStuffing},
    {"00000000010", 5 | 0 << 4},
    {"0000000001100", 5 | 1 << 4},
    {"0000000001110", 5 | 2 << 4},
    {"0000000001111", 5 | 3 << 4},
};

// CBPY: H.263 Table 13, indexed by the intra pattern (Y0 in bit 3).
constexpr CodeDef kCbpyCodes[] = {
    {"0011", 0},   {"00101", 1}, {"00100", 2}, {"1001", 3},   {"00011", 4}, {"0111", 5},
    {"000010", 6}, {"1011", 7},  {"00010", 8}, {"000011", 9}, {"0101", 10}, {"1010", 11},
    {"0100", 12},  {"1000", 13}, {"0110", 14}, {"11", 15},
};

// MVD: H.263 Table 14, sign bit included; value in half-pel units.
constexpr CodeDef kMvdCodes[] = {
    {"1", 0},
    {"010", 1},
    {"011", -1},
    {"0010", 2},
    {"0011", -2},
    {"00010", 3},
    {"00011", -3},
    {"0000110", 4},
    {"0000111", -4},
    {"00001010", 5},
    {"00001011", -5},
    {"00001000", 6},
    {"00001001", -6},
    {"00000110", 7},
    {"00000111", -7},
    {"0000010110", 8},
    {"0000010111", -8},
    {"0000010100", 9},
    {"0000010101", -9},
    {"0000010010", 10},
    {"0000010011", -10},
    {"00000100010", 11},
    {"00000100011", -11},
    {"00000100000", 12},
    {"00000100001", -12},
    {"00000011110", 13},
    {"00000011111", -13},
    {"00000011100", 14},
    {"00000011101", -14},
    {"00000011010", 15},
    {"00000011011", -15},
    {"00000011000", 16},
    {"00000011001", -16},
    {"00000010110", 17},
    {"00000010111", -17},
    {"00000010100", 18},
    {"00000010101", -18},
    {"00000010010", 19},
    {"00000010011", -19},
    {"00000010000", 20},
    {"00000010001", -20},
    {"00000001110", 21},
    {"00000001111", -21},
    {"00000001100", 22},
    {"00000001101", -22},
    {"00000001010", 23},
    {"00000001011", -23},
    {"00000001000", 24},
    {"00000001001", -24},
    {"000000001110", 25},
    {"000000001111", -25},
    {"000000001100", 26},
    {"000000001101", -26},
    {"000000001010", 27},
    {"000000001011", -27},
    {"000000001000", 28},
    {"000000001001", -28},
    {"000000000110", 29},
    {"000000000111", -29},
    {"000000000100", 30},
    {"000000000101", -30},
    {"0000000000110", 31},
    {"0000000000111", -31},
    {"0000000000101", -32},
};

// TCOEF: H.263 Table 16 (LAST, RUN, |LEVEL|), without the sign bit.
constexpr CodeDef kTcoefCodes[] = {
    {"10", TcoefValue(0, 0, 1)},
    {"1111", TcoefValue(0, 0, 2)},
    {"010101", TcoefValue(0, 0, 3)},
    {"0010111", TcoefValue(0, 0, 4)},
    {"00011111", TcoefValue(0, 0, 5)},
    {"000100101", TcoefValue(0, 0, 6)},
    {"000100100", TcoefValue(0, 0, 7)},
    {"0000100001", TcoefValue(0, 0, 8)},
    {"0000100000", TcoefValue(0, 0, 9)},
    {"00000000111", TcoefValue(0, 0, 10)},
    {"00000000110", TcoefValue(0, 0, 11)},
    {"00000100000", TcoefValue(0, 0, 12)},
    {"110", TcoefValue(0, 1, 1)},
    {"010100", TcoefValue(0, 1, 2)},
    {"00011110", TcoefValue(0, 1, 3)},
    {"0000001111", TcoefValue(0, 1, 4)},
    {"00000100001", TcoefValue(0, 1, 5)},
    {"000001010000", TcoefValue(0, 1, 6)},
    {"1110", TcoefValue(0, 2, 1)},
    {"00011101", TcoefValue(0, 2, 2)},
    {"0000001110", TcoefValue(0, 2, 3)},
    {"000001010001", TcoefValue(0, 2, 4)},
    {"01101", TcoefValue(0, 3, 1)},
    {"000100011", TcoefValue(0, 3, 2)},
    {"0000001101", TcoefValue(0, 3, 3)},
    {"01100", TcoefValue(0, 4, 1)},
    {"000100010", TcoefValue(0, 4, 2)},
    {"000001010010", TcoefValue(0, 4, 3)},
    {"01011", TcoefValue(0, 5, 1)},
    {"0000001100", TcoefValue(0, 5, 2)},
    {"000001010011", TcoefValue(0, 5, 3)},
    {"010011", TcoefValue(0, 6, 1)},
    {"0000001011", TcoefValue(0, 6, 2)},
    {"000001010100", TcoefValue(0, 6, 3)},
    {"010010", TcoefValue(0, 7, 1)},
    {"0000001010", TcoefValue(0, 7, 2)},
    {"010001", TcoefValue(0, 8, 1)},
    {"0000001001", TcoefValue(0, 8, 2)},
    {"010000", TcoefValue(0, 9, 1)},
    {"0000001000", TcoefValue(0, 9, 2)},
    {"0010110", TcoefValue(0, 10, 1)},
    {"000001010101", TcoefValue(0, 10, 2)},
    {"0010101", TcoefValue(0, 11, 1)},
    {"0010100", TcoefValue(0, 12, 1)},
    {"00011100", TcoefValue(0, 13, 1)},
    {"00011011", TcoefValue(0, 14, 1)},
    {"000100001", TcoefValue(0, 15, 1)},
    {"000100000", TcoefValue(0, 16, 1)},
    {"000011111", TcoefValue(0, 17, 1)},
    {"000011110", TcoefValue(0, 18, 1)},
    {"000011101", TcoefValue(0, 19, 1)},
    {"000011100", TcoefValue(0, 20, 1)},
    {"000011011", TcoefValue(0, 21, 1)},
    {"000011010", TcoefValue(0, 22, 1)},
    {"00000100010", TcoefValue(0, 23, 1)},
    {"00000100011", TcoefValue(0, 24, 1)},
    {"000001010110", TcoefValue(0, 25, 1)},
    {"000001010111", TcoefValue(0, 26, 1)},
    {"0111", TcoefValue(1, 0, 1)},
    {"000011001", TcoefValue(1, 0, 2)},
    {"00000000101", TcoefValue(1, 0, 3)},
    {"001111", TcoefValue(1, 1, 1)},
    {"00000000100", TcoefValue(1, 1, 2)},
    {"001110", TcoefValue(1, 2, 1)},
    {"001101", TcoefValue(1, 3, 1)},
    {"001100", TcoefValue(1, 4, 1)},
    {"0010011", TcoefValue(1, 5, 1)},
    {"0010010", TcoefValue(1, 6, 1)},
    {"0010001", TcoefValue(1, 7, 1)},
    {"0010000", TcoefValue(1, 8, 1)},
    {"00011010", TcoefValue(1, 9, 1)},
    {"00011001", TcoefValue(1, 10, 1)},
    {"00011000", TcoefValue(1, 11, 1)},
    {"00010111", TcoefValue(1, 12, 1)},
    {"00010110", TcoefValue(1, 13, 1)},
    {"00010101", TcoefValue(1, 14, 1)},
    {"00010100", TcoefValue(1, 15, 1)},
    {"00010011", TcoefValue(1, 16, 1)},
    {"000011000", TcoefValue(1, 17, 1)},
    {"000010111", TcoefValue(1, 18, 1)},
    {"000010110", TcoefValue(1, 19, 1)},
    {"000010101", TcoefValue(1, 20, 1)},
    {"000010100", TcoefValue(1, 21, 1)},
    {"000010011", TcoefValue(1, 22, 1)},
    {"000010010", TcoefValue(1, 23, 1)},
    {"000010001", TcoefValue(1, 24, 1)},
    {"0000000111", TcoefValue(1, 25, 1)},
    {"0000000110", TcoefValue(1, 26, 1)},
    {"0000000101", TcoefValue(1, 27, 1)},
    {"0000000100", TcoefValue(1, 28, 1)},
    {"00000100100", TcoefValue(1, 29, 1)},
    {"00000100101", TcoefValue(1, 30, 1)},
    {"00000100110", TcoefValue(1, 31, 1)},
    {"00000100111", TcoefValue(1, 32, 1)},
    {"000001011000", TcoefValue(1, 33, 1)},
    {"000001011001", TcoefValue(1, 34, 1)},
    {"000001011010", TcoefValue(1, 35, 1)},
    {"000001011011", TcoefValue(1, 36, 1)},
    {"000001011100", TcoefValue(1, 37, 1)},
    {"000001011101", TcoefValue(1, 38, 1)},
    {"000001011110", TcoefValue(1, 39, 1)},
    {"000001011111", TcoefValue(1, 40, 1)},
    {"0000011", kTcoefEscape},
};

constexpr auto kMcbpcIntraLut = BuildVlcLut<9>(kMcbpcIntraCodes);
constexpr auto kMcbpcInterLut = BuildSplitVlcLut<6, 4, 13>(kMcbpcInterCodes);
constexpr auto kCbpyLut = BuildVlcLut<6>(kCbpyCodes);
constexpr auto kMvdLut = BuildSplitVlcLut<5, 4, 13>(kMvdCodes);
constexpr auto kTcoefLut = BuildSplitVlcLut<7, 3, 12>(kTcoefCodes);

static_assert(std::size(kTcoefCodes) == 103, "102 events and ESCAPE");

// Annex T, Table T.1: QUANT change for DQUANT 10 (first) and 11 (second), QUANT 1..31.
constexpr int8_t kDquantT1[2][32] = {
    {0,  2,  -1, -1, -1, -1, -1, -1, -1, -1, -1, -2, -2, -2, -2, -2,
     -2, -2, -2, -2, -2, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3},
    {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 2, 1, -5},
};

// Annex T, Table T.2: chroma QUANT for QUANT 0..31.
constexpr uint8_t kChromaQuant[32] = {0,  1,  2,  3,  4,  5,  6,  6,  7,  8,  9,  9,  10, 10, 11, 11,
                                      12, 12, 12, 13, 13, 13, 14, 14, 14, 14, 14, 15, 15, 15, 15, 15};

// One table, or a split one, indexed by the next Bits bits of the stream.
template <int Bits, typename Table>
inline int Lookup(BitReader& r, const Table& lut) {
    const VlcEntry e = lut[r.ShowBits(Bits)];
    if (e.length == 0) return kInvalidCode;
    r.SkipBits(e.length);
    return e.value;
}

}  // namespace

// Zigzag scan: Figure 14 of H.263.
const uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

int GetMcbpcIntra(BitReader& r) {
    return Lookup<9>(r, kMcbpcIntraLut);
}

int GetMcbpcInter(BitReader& r) {
    return Lookup<13>(r, kMcbpcInterLut);
}

int GetCbpy(BitReader& r) {
    return Lookup<6>(r, kCbpyLut);
}

int GetMvd(BitReader& r) {
    const VlcEntry e = kMvdLut[r.ShowBits(13)];
    if (e.length == 0) return 0;  // no code: a zero difference, nothing consumed
    r.SkipBits(e.length);
    return e.value;
}

int GetReversibleMvd(BitReader& r) {
    if (r.GetBit()) return 0;
    uint32_t code = 2 | r.GetBit();  // the implied leading 1 of the magnitude, then the first bit
    for (int n = 0; n < 14 && r.GetBit(); ++n) code = (code << 1) | r.GetBit();
    const int magnitude = static_cast<int>(code >> 1);
    return (code & 1) ? -magnitude : magnitude;
}

bool GetTcoef(BitReader& r, bool modifiedQuant, TcoefEvent* event) {
    const VlcEntry e = kTcoefLut[r.ShowBits(12)];
    if (e.length == 0) return false;
    r.SkipBits(e.length);
    if (e.value != kTcoefEscape) {
        ReadTableEvent(r, e.value, event);
        return true;
    }
    event->last = static_cast<int>(r.GetBits(1));
    event->run = static_cast<int>(r.GetBits(6));
    int level = static_cast<int>(r.GetBits(8));
    if (level == 128 && modifiedQuant) {
        // Extended level: 5 least significant bits first, then the 6 most significant ones.
        const int w = static_cast<int>(r.GetBits(11));
        level = ((w & 63) << 5) | (w >> 6);
        if (level >= 1024) level -= 2048;
    } else if (level >= 128) {
        level -= 256;
    }
    event->level = level;
    return true;
}

int GetIntraMode(BitReader& r) {
    if (r.GetBit() == 0) return 0;
    return r.GetBit() ? 3 : 2;
}

int GetDquant(BitReader& r, bool modifiedQuant, int quant) {
    if (quant < 1) quant = 1;
    if (quant > 31) quant = 31;
    if (!modifiedQuant) {
        static constexpr int kChange[4] = {-1, -2, 1, 2};
        quant += kChange[r.GetBits(2)];
    } else if (r.GetBit()) {
        quant += kDquantT1[r.GetBit()][quant];
    } else {
        quant = static_cast<int>(r.GetBits(5));
    }
    return quant < 1 ? 1 : (quant > 31 ? 31 : quant);
}

int ChromaQuant(int quant) {
    return kChromaQuant[quant < 0 ? 0 : (quant > 31 ? 31 : quant)];
}

}  // namespace r263iri
