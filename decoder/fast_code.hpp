#pragma once

#include <cstdint>
#include <span>
#include <memory>

namespace korvane {

// Multi-bit decode table for the fast path: one probe resolves a whole code of
// up to `primaryBits` bits; longer codes take a second probe in a subtable.
//
// It gives exactly the symbol the bit-at-a-time HuffmanTable gives, but only
// for codes that do not over-subscribe the code space (build() refuses those:
// there the bit-at-a-time rules decide which symbol wins). Bit patterns that
// reach no code, and symbols that are always an error (length 286/287,
// distance 30/31), decode to a hand-over entry so that the literal decoder can
// raise the error at exactly the point it would.
//
// Entry layout (32 bits):
//   bits 0-5    bits to consume: the code, and for BASE its extra bits too
//   bit 7       EXCEPTIONAL: subtable link, end of block or hand-over
//   bits 8-11   BASE: how many of the extra bits still have to be added to
//               `value` (0 when the index already held them all); otherwise
//               the exceptional kind
//   bits 12-15  subtable index bits (SUBTABLE)
//   bits 16-30  value: copy length or distance (BASE), subtable start
//   bit 31      LITERAL, with the byte (or code-length symbol) in bits 8-15
// Keeping bits 6 and 7 out of the consume count lets the decoder shift by
// `entry & 63`, which is a plain shift on common CPUs.
class FastCode {
public:
    enum class Alphabet { LiteralLength, Distance, CodeLength };
    static constexpr uint32_t LITLEN_PRIMARY_BITS = 11;

    // Width of the first-level table: codes up to this long take one probe.
    static constexpr uint32_t primaryBitsFor(Alphabet alphabet) {
        return alphabet == Alphabet::LiteralLength ? LITLEN_PRIMARY_BITS : alphabet == Alphabet::Distance ? 8 : 7;
    }

    static constexpr uint32_t LITERAL = 0x8000'0000;
    static constexpr uint32_t EXCEPTIONAL = 0x80;
    static constexpr uint32_t SUBTABLE = EXCEPTIONAL | 1U << 8;
    static constexpr uint32_t END_BLOCK = EXCEPTIONAL | 2U << 8;
    static constexpr uint32_t HAND_OVER = EXCEPTIONAL | 3U << 8;

    static constexpr uint32_t bits(uint32_t entry) { return entry & 63; }
    static constexpr uint32_t extra(uint32_t entry) { return (entry >> 8) & 0xF; }
    static constexpr uint32_t value(uint32_t entry) { return (entry >> 16) & 0x7FFF; }
    // value() of an entry known not to be a literal, whose bit 31 is clear.
    static constexpr uint32_t baseValue(uint32_t entry) { return entry >> 16; }
    static constexpr uint32_t exceptionalKind(uint32_t entry) { return entry & 0xF80; }
    static constexpr bool isLiteral(uint32_t entry) { return (entry & LITERAL) != 0; }
    static constexpr uint32_t literalByte(uint32_t entry) { return (entry >> 8) & 0xFF; }
    static constexpr bool isExceptional(uint32_t entry) { return (entry & EXCEPTIONAL) != 0; }

    // The table as a plain pointer, for loops that must keep it in a register:
    // byte stores may alias anything, so members read through `this` would be
    // reloaded after every output byte.
    template <Alphabet A>
    struct View {
        static constexpr uint64_t PRIMARY_MASK = (uint64_t{1} << primaryBitsFor(A)) - 1;
        const uint32_t* entries;

        [[nodiscard]] uint32_t primary(uint64_t bitBuffer) const { return entries[bitBuffer & PRIMARY_MASK]; }
        [[nodiscard]] uint32_t secondary(uint32_t link, uint64_t bitBuffer) const {
            return entries[value(link) + ((bitBuffer >> bits(link)) & ((1U << (link >> 12 & 0xF)) - 1))];
        }
        [[nodiscard]] uint32_t lookup(uint64_t bitBuffer) const {
            const uint32_t entry = primary(bitBuffer);
            return exceptionalKind(entry) == SUBTABLE ? secondary(entry, bitBuffer) : entry;
        }
    };
    // The table built for alphabet A.
    template <Alphabet A>
    [[nodiscard]] View<A> view() const {
        return {entries_.get()};
    }

    // Builds the table; returns false (and leaves it unusable) when the
    // lengths over-subscribe the code space.
    bool build(std::span<const int32_t> lengths, Alphabet alphabet);

private:
    template <Alphabet A>
    bool buildFor(std::span<const int32_t> lengths);

    // Slots, uninitialised until a build writes them; kept from build to build.
    std::unique_ptr<uint32_t[]> entries_;
    size_t capacity_ = 0;
};

}  // namespace korvane
