// VLC tables of the macroblock and block layers and the low-level code writers.
#include "OutPutCoefficients.h"

namespace r263avo {

namespace {

// H.263 Table 16: VLC table for TCOEF (LAST, RUN, |LEVEL|), codes without the sign bit.
constexpr RunLevelCode kTcoef[102] = {
    {0, 0, 1, Bits("10")},
    {0, 0, 2, Bits("1111")},
    {0, 0, 3, Bits("0101 01")},
    {0, 0, 4, Bits("0010 111")},
    {0, 0, 5, Bits("0001 1111")},
    {0, 0, 6, Bits("0001 0010 1")},
    {0, 0, 7, Bits("0001 0010 0")},
    {0, 0, 8, Bits("0000 1000 01")},
    {0, 0, 9, Bits("0000 1000 00")},
    {0, 0, 10, Bits("0000 0000 111")},
    {0, 0, 11, Bits("0000 0000 110")},
    {0, 0, 12, Bits("0000 0100 000")},
    {0, 1, 1, Bits("110")},
    {0, 1, 2, Bits("0101 00")},
    {0, 1, 3, Bits("0001 1110")},
    {0, 1, 4, Bits("0000 0011 11")},
    {0, 1, 5, Bits("0000 0100 001")},
    {0, 1, 6, Bits("0000 0101 0000")},
    {0, 2, 1, Bits("1110")},
    {0, 2, 2, Bits("0001 1101")},
    {0, 2, 3, Bits("0000 0011 10")},
    {0, 2, 4, Bits("0000 0101 0001")},
    {0, 3, 1, Bits("0110 1")},
    {0, 3, 2, Bits("0001 0001 1")},
    {0, 3, 3, Bits("0000 0011 01")},
    {0, 4, 1, Bits("0110 0")},
    {0, 4, 2, Bits("0001 0001 0")},
    {0, 4, 3, Bits("0000 0101 0010")},
    {0, 5, 1, Bits("0101 1")},
    {0, 5, 2, Bits("0000 0011 00")},
    {0, 5, 3, Bits("0000 0101 0011")},
    {0, 6, 1, Bits("0100 11")},
    {0, 6, 2, Bits("0000 0010 11")},
    {0, 6, 3, Bits("0000 0101 0100")},
    {0, 7, 1, Bits("0100 10")},
    {0, 7, 2, Bits("0000 0010 10")},
    {0, 8, 1, Bits("0100 01")},
    {0, 8, 2, Bits("0000 0010 01")},
    {0, 9, 1, Bits("0100 00")},
    {0, 9, 2, Bits("0000 0010 00")},
    {0, 10, 1, Bits("0010 110")},
    {0, 10, 2, Bits("0000 0101 0101")},
    {0, 11, 1, Bits("0010 101")},
    {0, 12, 1, Bits("0010 100")},
    {0, 13, 1, Bits("0001 1100")},
    {0, 14, 1, Bits("0001 1011")},
    {0, 15, 1, Bits("0001 0000 1")},
    {0, 16, 1, Bits("0001 0000 0")},
    {0, 17, 1, Bits("0000 1111 1")},
    {0, 18, 1, Bits("0000 1111 0")},
    {0, 19, 1, Bits("0000 1110 1")},
    {0, 20, 1, Bits("0000 1110 0")},
    {0, 21, 1, Bits("0000 1101 1")},
    {0, 22, 1, Bits("0000 1101 0")},
    {0, 23, 1, Bits("0000 0100 010")},
    {0, 24, 1, Bits("0000 0100 011")},
    {0, 25, 1, Bits("0000 0101 0110")},
    {0, 26, 1, Bits("0000 0101 0111")},
    {1, 0, 1, Bits("0111")},
    {1, 0, 2, Bits("0000 1100 1")},
    {1, 0, 3, Bits("0000 0000 101")},
    {1, 1, 1, Bits("0011 11")},
    {1, 1, 2, Bits("0000 0000 100")},
    {1, 2, 1, Bits("0011 10")},
    {1, 3, 1, Bits("0011 01")},
    {1, 4, 1, Bits("0011 00")},
    {1, 5, 1, Bits("0010 011")},
    {1, 6, 1, Bits("0010 010")},
    {1, 7, 1, Bits("0010 001")},
    {1, 8, 1, Bits("0010 000")},
    {1, 9, 1, Bits("0001 1010")},
    {1, 10, 1, Bits("0001 1001")},
    {1, 11, 1, Bits("0001 1000")},
    {1, 12, 1, Bits("0001 0111")},
    {1, 13, 1, Bits("0001 0110")},
    {1, 14, 1, Bits("0001 0101")},
    {1, 15, 1, Bits("0001 0100")},
    {1, 16, 1, Bits("0001 0011")},
    {1, 17, 1, Bits("0000 1100 0")},
    {1, 18, 1, Bits("0000 1011 1")},
    {1, 19, 1, Bits("0000 1011 0")},
    {1, 20, 1, Bits("0000 1010 1")},
    {1, 21, 1, Bits("0000 1010 0")},
    {1, 22, 1, Bits("0000 1001 1")},
    {1, 23, 1, Bits("0000 1001 0")},
    {1, 24, 1, Bits("0000 1000 1")},
    {1, 25, 1, Bits("0000 0001 11")},
    {1, 26, 1, Bits("0000 0001 10")},
    {1, 27, 1, Bits("0000 0001 01")},
    {1, 28, 1, Bits("0000 0001 00")},
    {1, 29, 1, Bits("0000 0100 100")},
    {1, 30, 1, Bits("0000 0100 101")},
    {1, 31, 1, Bits("0000 0100 110")},
    {1, 32, 1, Bits("0000 0100 111")},
    {1, 33, 1, Bits("0000 0101 1000")},
    {1, 34, 1, Bits("0000 0101 1001")},
    {1, 35, 1, Bits("0000 0101 1010")},
    {1, 36, 1, Bits("0000 0101 1011")},
    {1, 37, 1, Bits("0000 0101 1100")},
    {1, 38, 1, Bits("0000 0101 1101")},
    {1, 39, 1, Bits("0000 0101 1110")},
    {1, 40, 1, Bits("0000 0101 1111")},
};

// H.263 Table I.2: VLC table for INTRA TCOEF with advanced intra coding (LAST, RUN, |LEVEL|),
// codes without the sign bit. The code words are those of Table 16, assigned to other events.
constexpr RunLevelCode kAic[102] = {
    {0, 0, 1, Bits("10")},
    {0, 0, 2, Bits("110")},
    {0, 0, 3, Bits("1110")},
    {0, 0, 4, Bits("0110 0")},
    {0, 0, 5, Bits("0110 1")},
    {0, 0, 6, Bits("0100 00")},
    {0, 0, 7, Bits("0100 01")},
    {0, 0, 8, Bits("0100 10")},
    {0, 0, 9, Bits("0010 110")},
    {0, 0, 10, Bits("0001 1011")},
    {0, 0, 11, Bits("0001 0000 0")},
    {0, 0, 12, Bits("0001 0000 1")},
    {0, 0, 13, Bits("0000 1101 0")},
    {0, 0, 14, Bits("0000 1101 1")},
    {0, 0, 15, Bits("0000 1110 0")},
    {0, 0, 16, Bits("0000 1110 1")},
    {0, 0, 17, Bits("0000 1111 0")},
    {0, 0, 18, Bits("0000 1111 1")},
    {0, 0, 19, Bits("0000 0100 011")},
    {0, 0, 20, Bits("0000 0100 010")},
    {0, 0, 21, Bits("0000 0101 0111")},
    {0, 0, 22, Bits("0000 0101 0110")},
    {0, 0, 23, Bits("0000 0101 0101")},
    {0, 0, 24, Bits("0000 0101 0100")},
    {0, 0, 25, Bits("0000 0101 0011")},
    {0, 1, 1, Bits("1111")},
    {0, 1, 2, Bits("0101 00")},
    {0, 1, 3, Bits("0010 100")},
    {0, 1, 4, Bits("0001 1110")},
    {0, 1, 5, Bits("0000 0011 11")},
    {0, 1, 6, Bits("0000 0100 001")},
    {0, 1, 7, Bits("0000 0101 0000")},
    {0, 2, 1, Bits("0101 1")},
    {0, 2, 2, Bits("0010 101")},
    {0, 2, 3, Bits("0000 0011 10")},
    {0, 2, 4, Bits("0000 0010 01")},
    {0, 3, 1, Bits("0101 01")},
    {0, 3, 2, Bits("0001 1101")},
    {0, 3, 3, Bits("0000 0011 01")},
    {0, 3, 4, Bits("0000 0101 0001")},
    {0, 4, 1, Bits("0100 11")},
    {0, 4, 2, Bits("0001 0001 1")},
    {0, 4, 3, Bits("0000 0000 111")},
    {0, 5, 1, Bits("0010 111")},
    {0, 5, 2, Bits("0001 0001 0")},
    {0, 5, 3, Bits("0000 0101 0010")},
    {0, 6, 1, Bits("0001 1100")},
    {0, 6, 2, Bits("0000 0011 00")},
    {0, 7, 1, Bits("0001 1111")},
    {0, 7, 2, Bits("0000 0010 11")},
    {0, 8, 1, Bits("0001 0010 1")},
    {0, 8, 2, Bits("0000 0010 10")},
    {0, 9, 1, Bits("0001 0010 0")},
    {0, 9, 2, Bits("0000 0000 110")},
    {0, 10, 1, Bits("0000 1000 01")},
    {0, 11, 1, Bits("0000 1000 00")},
    {0, 12, 1, Bits("0000 0010 00")},
    {0, 13, 1, Bits("0000 0100 000")},
    {1, 0, 1, Bits("0111")},
    {1, 0, 2, Bits("0011 00")},
    {1, 0, 3, Bits("0010 000")},
    {1, 0, 4, Bits("0001 0011")},
    {1, 0, 5, Bits("0000 1000 1")},
    {1, 0, 6, Bits("0000 1001 0")},
    {1, 0, 7, Bits("0000 0001 00")},
    {1, 0, 8, Bits("0000 0100 111")},
    {1, 0, 9, Bits("0000 0100 110")},
    {1, 0, 10, Bits("0000 0101 1111")},
    {1, 1, 1, Bits("0011 11")},
    {1, 1, 2, Bits("0000 1001 1")},
    {1, 1, 3, Bits("0000 0001 01")},
    {1, 1, 4, Bits("0000 0100 101")},
    {1, 2, 1, Bits("0011 10")},
    {1, 2, 2, Bits("0000 1010 0")},
    {1, 2, 3, Bits("0000 0100 100")},
    {1, 3, 1, Bits("0011 01")},
    {1, 3, 2, Bits("0000 0001 10")},
    {1, 3, 3, Bits("0000 0101 1110")},
    {1, 4, 1, Bits("0010 001")},
    {1, 4, 2, Bits("0000 0001 11")},
    {1, 5, 1, Bits("0010 011")},
    {1, 5, 2, Bits("0000 0101 1101")},
    {1, 6, 1, Bits("0010 010")},
    {1, 6, 2, Bits("0000 0101 1100")},
    {1, 7, 1, Bits("0001 0100")},
    {1, 7, 2, Bits("0000 0101 1011")},
    {1, 8, 1, Bits("0001 0101")},
    {1, 9, 1, Bits("0001 1010")},
    {1, 10, 1, Bits("0001 1001")},
    {1, 11, 1, Bits("0001 1000")},
    {1, 12, 1, Bits("0001 0111")},
    {1, 13, 1, Bits("0001 0110")},
    {1, 14, 1, Bits("0000 1100 1")},
    {1, 15, 1, Bits("0000 1010 1")},
    {1, 16, 1, Bits("0000 1011 0")},
    {1, 17, 1, Bits("0000 1100 0")},
    {1, 18, 1, Bits("0000 1011 1")},
    {1, 19, 1, Bits("0000 0000 100")},
    {1, 20, 1, Bits("0000 0000 101")},
    {1, 21, 1, Bits("0000 0101 1000")},
    {1, 22, 1, Bits("0000 0101 1001")},
    {1, 23, 1, Bits("0000 0101 1010")},
};

template <int kMaxLevel, size_t N>
constexpr RunLevelMap<kMaxLevel> BuildMap(const RunLevelCode (&codes)[N]) {
    RunLevelMap<kMaxLevel> map{};
    for (const RunLevelCode& c : codes) map.code[c.last][c.run][c.level] = c.vlc;
    return map;
}

}  // namespace

constexpr RunLevelMap<12> kTcoefMap = BuildMap<12>(kTcoef);
constexpr RunLevelMap<25> kAicMap = BuildMap<25>(kAic);

std::span<const RunLevelCode> TcoefCodes() {
    return kTcoef;
}
std::span<const RunLevelCode> AicCodes() {
    return kAic;
}

// H.263 Table 7: MCBPC for I-pictures, rows INTRA (type 3) and INTRA+Q (type 4), CBPC 0..3.
const VlcCode McbpcICodes[2][4] = {
    {Bits("1"), Bits("001"), Bits("010"), Bits("011")},
    {Bits("0001"), Bits("0000 01"), Bits("0000 10"), Bits("0000 11")},
};

// H.263 Table 8: MCBPC for P-pictures, types 0..5 (INTER, INTER+Q, INTER4V, INTRA, INTRA+Q,
// INTER4V+Q), CBPC 0..3.
const VlcCode McbpcPCodes[6][4] = {
    {Bits("1"), Bits("0011"), Bits("0010"), Bits("0001 01")},
    {Bits("011"), Bits("0000 111"), Bits("0000 110"), Bits("0000 0010 1")},
    {Bits("010"), Bits("0000 101"), Bits("0000 100"), Bits("0000 0101")},
    {Bits("0001 1"), Bits("0000 0100"), Bits("0000 0011"), Bits("0000 011")},
    {Bits("0001 00"), Bits("0000 0010 0"), Bits("0000 0001 1"), Bits("0000 0001 0")},
    {Bits("0000 0000 010"), Bits("0000 0000 0110 0"), Bits("0000 0000 0111 0"), Bits("0000 0000 0111 1")},
};

// Stuffing code of H.263 Tables 7 and 8.
const VlcCode McbpcStuffing = Bits("0000 0000 1");

// H.263 Table 9: CBPY, indexed by the pattern of an intra macroblock (Y0 = bit 3 ... Y3 = bit 0).
const VlcCode CbpyCodes[16] = {
    Bits("0011"),    Bits("0010 1"), Bits("0010 0"), Bits("1001"),    Bits("0001 1"), Bits("0111"),
    Bits("0000 10"), Bits("1011"),   Bits("0001 0"), Bits("0000 11"), Bits("0101"),   Bits("1010"),
    Bits("0100"),    Bits("1000"),   Bits("0110"),   Bits("11"),
};

// H.263 Table 14: MVD, one code per magnitude 0..32 half-pels; the sign bit (1 = negative)
// follows every code but that of 0.
const VlcCode MvdCodes[33] = {
    Bits("1"),
    Bits("01"),
    Bits("001"),
    Bits("0001"),
    Bits("0000 11"),
    Bits("0000 101"),
    Bits("0000 100"),
    Bits("0000 011"),
    Bits("0000 0101 1"),
    Bits("0000 0101 0"),
    Bits("0000 0100 1"),
    Bits("0000 0100 01"),
    Bits("0000 0100 00"),
    Bits("0000 0011 11"),
    Bits("0000 0011 10"),
    Bits("0000 0011 01"),
    Bits("0000 0011 00"),
    Bits("0000 0010 11"),
    Bits("0000 0010 10"),
    Bits("0000 0010 01"),
    Bits("0000 0010 00"),
    Bits("0000 0001 11"),
    Bits("0000 0001 10"),
    Bits("0000 0001 01"),
    Bits("0000 0001 00"),
    Bits("0000 0000 111"),
    Bits("0000 0000 110"),
    Bits("0000 0000 101"),
    Bits("0000 0000 100"),
    Bits("0000 0000 011"),
    Bits("0000 0000 010"),
    Bits("0000 0000 0011"),
    Bits("0000 0000 0010"),
};

int WriteEscape(BitWriter& bw, int last, int run, int level, bool modifiedQuant, int max8Bit) {
    PutVlc(bw, kEscapeCode);
    bw.PutBits(1, last ? 1u : 0u);
    bw.PutBits(6, static_cast<uint32_t>(run) & 63u);
    const int magnitude = level < 0 ? -level : level;
    if (magnitude > max8Bit && modifiedQuant) {
        // Annex T extended level: LEVEL = 1000 0000, then the 11-bit two's-complement level with
        // its 5 least significant bits first and its 6 most significant bits after them.
        if (level > 1023) level = 1023;
        if (level < -1023) level = -1023;
        const uint32_t v = static_cast<uint32_t>(level);
        bw.PutBits(8, 0x80);
        bw.PutBits(11, ((v << 6) | ((v >> 5) & 63u)) & 2047u);
        return level;
    }
    if (level > 127) level = 127;
    if (level < -127) level = -127;
    bw.PutBits(8, static_cast<uint32_t>(level) & 0xFFu);
    return level;
}

}  // namespace r263avo
