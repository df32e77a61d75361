// Compile-time construction of direct look-up tables from lists of variable-length codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace r263iri {

// One code of a table: its bits as a string of '0' and '1', and the value it stands for.
struct CodeDef {
    const char* bits;
    int value;
};

// Look-up entry: the value and the code length in bits (0 = no code starts with these bits).
struct VlcEntry {
    int16_t value = 0;
    uint8_t length = 0;
};

template <int Bits>
using VlcLut = std::array<VlcEntry, size_t{1} << Bits>;

// Builds a table indexed by the next `Bits` bits of the stream. A code longer than `Bits` or two
// codes where one is a prefix of the other stop the compilation (the throw is not a constant).
template <int Bits, size_t N>
constexpr VlcLut<Bits> BuildVlcLut(const CodeDef (&codes)[N]) {
    VlcLut<Bits> lut{};
    for (const CodeDef& c : codes) {
        int length = 0;
        uint32_t pattern = 0;
        for (const char* p = c.bits; *p; ++p) {
            pattern = (pattern << 1) | (*p == '1' ? 1u : 0u);
            ++length;
        }
        if (length > Bits) throw "code longer than the table";
        const uint32_t first = pattern << (Bits - length);
        const uint32_t count = 1u << (Bits - length);
        for (uint32_t i = first; i < first + count; ++i) {
            if (lut[i].length != 0) throw "codes overlap";
            lut[i].value = static_cast<int16_t>(c.value);
            lut[i].length = static_cast<uint8_t>(length);
        }
    }
    return lut;
}

// Number of `Bits`-bit patterns that start no code of the table.
template <int Bits>
constexpr int UnusedPatterns(const VlcLut<Bits>& lut) {
    int n = 0;
    for (const VlcEntry& e : lut) n += e.length == 0 ? 1 : 0;
    return n;
}

}  // namespace r263iri
