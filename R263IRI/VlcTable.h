// Compile-time construction of direct look-up tables from lists of variable-length codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "R263COM/CodingTypes.h"

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

namespace vlc_detail {

// Enters a code of `length` table bits (its `entryLength` bits in the stream) into every entry
// it starts.
template <int Bits>
constexpr void Enter(VlcLut<Bits>& lut, uint32_t pattern, int length, int entryLength, int value) {
    if (length > Bits) throw "code longer than the table";
    const uint32_t first = pattern << (Bits - length);
    const uint32_t count = 1u << (Bits - length);
    for (uint32_t i = first; i < first + count; ++i) {
        if (lut[i].length != 0) throw "codes overlap";
        lut[i].value = static_cast<int16_t>(value);
        lut[i].length = static_cast<uint8_t>(entryLength);
    }
}

}  // namespace vlc_detail

// Builds a table indexed by the next `Bits` bits of the stream. A code longer than `Bits` or two
// codes where one is a prefix of the other stop the compilation (the throw is not a constant).
template <int Bits, size_t N>
constexpr VlcLut<Bits> BuildVlcLut(const CodeDef (&codes)[N]) {
    VlcLut<Bits> lut{};
    for (const CodeDef& c : codes) {
        const r263com::CodeBits p = r263com::ParseCodeBits(c.bits);
        vlc_detail::Enter<Bits>(lut, p.bits, p.length, p.length, c.value);
    }
    return lut;
}

// A table in two parts for codes of up to Long bits whose long codes all begin with Zeros zero
// bits: `head` is indexed by the next Short bits and holds every code that does not begin so,
// `tail` by the Long - Zeros bits after the zeros. Together they hold what one table of 2^Long
// entries would, in a few kilobytes instead of tens, so that the tables of a picture's codes stay
// in the first-level cache.
template <int Short, int Zeros, int Long>
struct SplitVlcLut {
    static_assert(Zeros <= Short && Short <= Long);
    VlcLut<Short> head{};
    VlcLut<Long - Zeros> tail{};

    // The entry for the next Long bits of the stream, `window`; indexed like the one table.
    constexpr VlcEntry Find(uint32_t window) const {
        return (window >> (Long - Zeros)) != 0 ? head[window >> (Long - Short)] : tail[window];
    }
    constexpr VlcEntry operator[](uint32_t window) const { return Find(window); }
};

// Builds a split table; a code that fits neither part stops the compilation.
template <int Short, int Zeros, int Long, size_t N>
constexpr SplitVlcLut<Short, Zeros, Long> BuildSplitVlcLut(const CodeDef (&codes)[N]) {
    SplitVlcLut<Short, Zeros, Long> lut{};
    for (const CodeDef& c : codes) {
        const r263com::CodeBits p = r263com::ParseCodeBits(c.bits);
        if (p.length > Long) throw "code longer than the table";
        const bool leadingZeros = p.length >= Zeros && (p.bits >> (p.length - Zeros)) == 0;
        if (!leadingZeros && p.length < Zeros && p.bits == 0) throw "a code of only zeros within the split";
        if (leadingZeros) {
            vlc_detail::Enter<Long - Zeros>(lut.tail, p.bits, p.length - Zeros, p.length, c.value);
        } else {
            vlc_detail::Enter<Short>(lut.head, p.bits, p.length, p.length, c.value);
        }
    }
    // Head entries that begin with the zeros belong to the tail and are never read.
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
