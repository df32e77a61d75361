// Variable-length code tables of the macroblock and block layers, and the low-level writers.
// Internal to the encoder (the block writers of EncodeCoefficients and the tests use it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "Buffer.h"
#include "R263COM/CodingTypes.h"

namespace r263avo {

// One code: `length` bits of `code`, most significant first. Length 0 marks a missing entry.
struct VlcCode {
    uint16_t code = 0;
    uint8_t length = 0;
};

// Builds a code from its binary digits as the standard prints them ("0000 011"); spaces are
// ignored.
constexpr VlcCode Bits(const char* digits) {
    const r263com::CodeBits c = r263com::ParseCodeBits(digits);
    return VlcCode{static_cast<uint16_t>(c.bits), static_cast<uint8_t>(c.length)};
}

inline void PutVlc(BitWriter& bw, VlcCode v) {
    bw.PutBits(v.length, v.code);
}

// One event code of a run-level table; the code excludes the sign bit that follows it.
struct RunLevelCode {
    uint8_t last;
    uint8_t run;
    uint8_t level;
    VlcCode vlc;
};

// The 102 events of H.263 Table 16 (TCOEF) and of H.263 Table I.2 (Annex I INTRA VLC), in the
// standard's order; exposed for table checks.
std::span<const RunLevelCode> TcoefCodes();
std::span<const RunLevelCode> AicCodes();

// Direct lookups [last][run][|level|] of the two tables, built from the lists at compile time;
// events the tables lack have zero-length codes.
template <int kMaxLevel>
struct RunLevelMap {
    VlcCode code[2][64][kMaxLevel + 1];
};
extern const RunLevelMap<12> kTcoefMap;
extern const RunLevelMap<25> kAicMap;

template <int kMaxLevel>
inline VlcCode RunLevelLookup(const RunLevelMap<kMaxLevel>& map, int last, int run, int level) {
    if (run < 0 || run > 63 || level < 1 || level > kMaxLevel) return {};
    return map.code[last ? 1 : 0][run][level];
}

// Code of (last, run, |level|), or a zero-length code when the table has none.
inline VlcCode TcoefCode(int last, int run, int level) {
    return RunLevelLookup(kTcoefMap, last, run, level);
}
inline VlcCode AicCode(int last, int run, int level) {
    return RunLevelLookup(kAicMap, last, run, level);
}

// ESCAPE of the block layer (H.263 Table 16, last row).
inline constexpr VlcCode kEscapeCode = Bits("0000 011");

// Other tables, indexed as noted; exposed for table checks.
extern const VlcCode McbpcICodes[2][4];  // H.263 Table 7: [type - 3][CBPC] for INTRA, INTRA+Q
extern const VlcCode McbpcPCodes[6][4];  // H.263 Table 8: [type][CBPC], types 0..5
extern const VlcCode McbpcStuffing;      // 0000 0000 1, in both MCBPC tables
extern const VlcCode CbpyCodes[16];      // H.263 Table 9: [CBPY of an intra macroblock]
extern const VlcCode MvdCodes[33];       // H.263 Table 14: [|MVD| in half-pels], sign bit excluded

// Writes ESCAPE, LAST, RUN and the level (8-bit two's complement, or with Annex T the 8-bit
// marker 1000 0000 followed by the 11-bit extended level). Magnitudes above `max8Bit` do not use
// the plain 8-bit field: without Annex T they are limited to 127, with it they take the extended
// form (limited to the 11-bit range -1023..1023). Returns the level as written, which is what the
// decoder reconstructs.
int WriteEscape(BitWriter& bw, int last, int run, int level, bool modifiedQuant, int max8Bit);

}  // namespace r263avo
