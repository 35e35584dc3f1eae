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
[[nodiscard]] constexpr uint32_t reverseBits(uint32_t code, int length) {
    // Reverse all 16 low bits by swapping ever smaller halves, then drop the
    // bits below the code's own.
    uint32_t r = code & 0xFFFF;
    r = (r >> 8 & 0x00FF) | (r & 0x00FF) << 8;
    r = (r >> 4 & 0x0F0F) | (r & 0x0F0F) << 4;
    r = (r >> 2 & 0x3333) | (r & 0x3333) << 2;
    r = (r >> 1 & 0x5555) | (r & 0x5555) << 1;
    return r >> (16 - length);
}

}  // namespace korvane
