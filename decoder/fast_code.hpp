#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "deflate_tables.hpp"

namespace korvane {

// Entries of the fast path's decode tables (FastCode), 32 bits each:
//   bits 0-5    bits to consume: the code, and for BASE its extra bits too
//   bit 7       EXCEPTIONAL: subtable link, end of block or hand-over
//   bits 8-11   BASE: how many extra bits follow the code (the last ones of
//               the count in bits 0-5); otherwise the exceptional kind
//   bits 12-15  subtable index bits (SUBTABLE)
//   bits 16-30  value: copy length or distance base (BASE), subtable start
//   bit 31      LITERAL, with the byte (or code-length symbol) in bits 8-15
// Keeping bit 7 out of the consume count lets the decoder shift by
// `entry & 63`, which is a plain shift on common CPUs.
struct FastEntry {
    static constexpr uint32_t LITERAL = 0x8000'0000;
    static constexpr uint32_t EXCEPTIONAL = 0x80;
    static constexpr uint32_t SUBTABLE = EXCEPTIONAL | 1U << 8;
    static constexpr uint32_t END_BLOCK = EXCEPTIONAL | 2U << 8;
    static constexpr uint32_t HAND_OVER = EXCEPTIONAL | 3U << 8;

    static constexpr uint32_t bits(uint32_t entry) { return entry & 63; }
    static constexpr uint32_t extra(uint32_t entry) { return (entry >> 8) & 0xF; }
    static constexpr uint32_t subtableBits(uint32_t entry) { return (entry >> 12) & 0xF; }
    // The value of an entry that is not a literal, whose bit 31 is clear.
    static constexpr uint32_t baseValue(uint32_t entry) { return entry >> 16; }
    static constexpr uint32_t exceptionalKind(uint32_t entry) { return entry & 0xF80; }
    static constexpr bool isLiteral(uint32_t entry) { return (entry & LITERAL) != 0; }
    static constexpr bool isExceptional(uint32_t entry) { return (entry & EXCEPTIONAL) != 0; }
    static constexpr uint32_t literalByte(uint32_t entry) { return (entry >> 8) & 0xFF; }
};

enum class FastAlphabet { LiteralLength, Distance, CodeLength };

// Multi-bit decode table for the fast path: one probe resolves a whole code of
// up to PRIMARY_BITS bits; longer codes take a second probe in a subtable.
//
// It gives exactly the symbol the bit-at-a-time HuffmanTable gives, but only
// for codes that do not over-subscribe the code space (build() refuses those:
// there the bit-at-a-time rules decide which symbol wins). Bit patterns that
// reach no code, and symbols that are always an error (length 286/287,
// distance 30/31), decode to a hand-over entry so that the literal decoder can
// raise the error at exactly the point it would.
//
// The slots live inside the object, so a table costs no allocation and the
// decoder reaches them without loading a pointer.
template <FastAlphabet A>
class FastCode {
public:
    static constexpr uint32_t PRIMARY_BITS = A == FastAlphabet::LiteralLength ? 11
                                             : A == FastAlphabet::Distance    ? 8
                                                                              : 7;
    static constexpr uint32_t MAX_SYMBOLS = A == FastAlphabet::LiteralLength ? 288
                                            : A == FastAlphabet::Distance    ? 32
                                                                             : 19;
    // Code-length codes are sent in 3-bit fields; the others go up to 15 bits.
    static constexpr uint32_t MAX_LENGTH = A == FastAlphabet::CodeLength ? 7 : 15;
    static constexpr uint64_t PRIMARY_MASK = (uint64_t{1} << PRIMARY_BITS) - 1;
    // The primary table and the worst case of subtables: one per long code,
    // each at most 2^(MAX_LENGTH - PRIMARY_BITS) slots.
    static constexpr size_t CAPACITY =
        (size_t{1} << PRIMARY_BITS) + (MAX_LENGTH > PRIMARY_BITS ? MAX_SYMBOLS << (MAX_LENGTH - PRIMARY_BITS) : 0);

    // Builds the table; returns false (and leaves it unusable) when the
    // lengths over-subscribe the code space, or exceed the alphabet's size or
    // longest code. A slot holds one code: a copy length's extra bits are
    // read apart, as are a distance's.
    bool build(std::span<const int32_t> lengths);

    // The entry for the code at the bottom of `bitBuffer` (arrival order from
    // bit 0), before following a subtable link.
    [[nodiscard]] uint32_t primary(uint64_t bitBuffer) const { return entries_[bitBuffer & PRIMARY_MASK]; }

    // Follows a SUBTABLE entry returned by primary().
    [[nodiscard]] uint32_t secondary(uint32_t link, uint64_t bitBuffer) const {
        return entries_[FastEntry::baseValue(link) +
                        ((bitBuffer >> FastEntry::bits(link)) & ((1U << FastEntry::subtableBits(link)) - 1))];
    }

    [[nodiscard]] uint32_t lookup(uint64_t bitBuffer) const {
        const uint32_t entry = primary(bitBuffer);
        return FastEntry::exceptionalKind(entry) == FastEntry::SUBTABLE ? secondary(entry, bitBuffer) : entry;
    }

private:
    std::array<uint32_t, CAPACITY> entries_;  // written by build() before any read
};

extern template class FastCode<FastAlphabet::LiteralLength>;
extern template class FastCode<FastAlphabet::Distance>;
extern template class FastCode<FastAlphabet::CodeLength>;

using FastLiteralCode = FastCode<FastAlphabet::LiteralLength>;
using FastDistanceCode = FastCode<FastAlphabet::Distance>;
using FastCodeLengthCode = FastCode<FastAlphabet::CodeLength>;

}  // namespace korvane
