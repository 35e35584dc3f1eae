#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "bit_reader.hpp"

namespace korvane {

// Longest code any DEFLATE alphabet may use; bounds a table at 2^15 slots.
inline constexpr int MAX_CODE_LENGTH = 15;
// Bits read before a pattern that matches no code is declared invalid.
inline constexpr int MAX_CODE_BITS_READ = 16;

struct HuffmanEntry {
    int32_t symbol = -1;  // -1: vacant
    int32_t length = 0;   // bits of the code that owns this slot; 0: vacant
};

// Single-level decode table for a canonical prefix code. Slot i answers a code
// whose bits, in arrival order, are the low `length` bits of i. Decoding reads
// one bit at a time and accepts a slot only when exactly `length` bits have been
// read, so incomplete and over-subscribed sets of lengths decode deterministically:
// where slots of two symbols coincide, the higher symbol holds them.
class HuffmanTable {
public:
    std::vector<HuffmanEntry> entries;
    int32_t tableSize = 0;  // 2^maxLength, or 0 when no symbol has a code

    // Replaces the contents with the table for `lengths` (indexed by symbol,
    // 0 = no code). Lengths outside 1..15 are treated as "no code".
    void build(std::span<const int32_t> lengths);

    // Reads 1 to 16 bits and returns the symbol of the code found.
    [[nodiscard]] int32_t decodeSymbol(BitReader& reader) const;

    [[nodiscard]] bool empty() const noexcept { return tableSize == 0; }
};

// Reverses the low `length` bits of `code`: a code's first (most significant)
// bit arrives first in the stream, so it becomes bit 0 of a table index.
[[nodiscard]] inline uint32_t reverseBits(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int j = 0; j < length; ++j) reversed |= ((code >> j) & 1U) << (length - 1 - j);
    return reversed;
}

}  // namespace korvane
