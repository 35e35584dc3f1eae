#include "fast_code.hpp"

#include <algorithm>
#include <array>

#include "deflate_tables.hpp"
#include "huffman_table.hpp"

namespace korvane {

namespace {

constexpr uint32_t literalEntry(uint32_t byte, uint32_t bits) { return FastCode::LITERAL | byte << 8 | bits; }
constexpr uint32_t baseEntry(uint32_t value, uint32_t extra, uint32_t bits) { return value << 16 | extra << 8 | bits; }

// What decoding `symbol` means, for a code of `length` bits in a table whose
// index holds `indexBits` bits of input. When the symbol's extra bits also lie
// inside the index, `foldedMask` is set: the slot's bits above the code,
// masked with it, are added to the value.
struct SymbolEntry {
    uint32_t entry;
    uint32_t foldedMask;
};

template <FastCode::Alphabet A>
SymbolEntry entryFor(uint32_t symbol, uint32_t length, uint32_t indexBits) {
    using Alphabet = FastCode::Alphabet;
    if constexpr (A == Alphabet::CodeLength) return {literalEntry(symbol, length), 0};
    uint32_t base = 0;
    uint32_t extra = 0;
    if constexpr (A == Alphabet::Distance) {
        if (symbol >= static_cast<uint32_t>(DIST_SYMBOL_COUNT)) return {FastCode::HAND_OVER, 0};
        base = static_cast<uint32_t>(DIST_BASE[symbol]);
        extra = static_cast<uint32_t>(DIST_EXTRA[symbol]);
    } else {
        if (symbol < END_OF_BLOCK) return {literalEntry(symbol, length), 0};
        if (symbol == END_OF_BLOCK) return {FastCode::END_BLOCK | length, 0};
        const uint32_t index = symbol - FIRST_LENGTH_SYMBOL;
        if (index >= static_cast<uint32_t>(LENGTH_SYMBOL_COUNT)) return {FastCode::HAND_OVER, 0};
        base = static_cast<uint32_t>(LENGTH_BASE[index]);
        extra = static_cast<uint32_t>(LENGTH_EXTRA[index]);
    }
    // Either way the entry consumes the code and its extra bits.
    if (length + extra <= indexBits) return {baseEntry(base, 0, length + extra), (1U << extra) - 1};
    return {baseEntry(base, extra, length + extra), 0};
}

// Writes `entry` into every slot of table[0, size) whose low `length` bits
// are `code` (in arrival order).
void fill(uint32_t* table, uint32_t size, uint32_t code, uint32_t length, SymbolEntry entry) {
    const uint32_t stride = 1U << length;
    if (entry.foldedMask == 0) {
        for (uint32_t i = code; i < size; i += stride) table[i] = entry.entry;
    } else {
        for (uint32_t i = code; i < size; i += stride) table[i] = entry.entry + (((i >> length) & entry.foldedMask) << 16);
    }
}

constexpr std::array<uint8_t, 256> REVERSED_BYTES = [] {
    std::array<uint8_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b) table[b] = static_cast<uint8_t>(reverseBits(b, 8));
    return table;
}();

// reverseBits for codes of up to 16 bits, by table.
uint32_t reversed(uint32_t code, uint32_t length) {
    const uint32_t both = uint32_t{REVERSED_BYTES[code & 0xFF]} << 8 | REVERSED_BYTES[(code >> 8) & 0xFF];
    return both >> (16 - length);
}

// Alphabets handled by the fast tables have at most this many symbols.
constexpr size_t MAX_SYMBOLS = 320;

}  // namespace

bool FastCode::build(std::span<const int32_t> lengths, Alphabet alphabet) {
    switch (alphabet) {
        case Alphabet::LiteralLength: return buildFor<Alphabet::LiteralLength>(lengths);
        case Alphabet::Distance: return buildFor<Alphabet::Distance>(lengths);
        case Alphabet::CodeLength: return buildFor<Alphabet::CodeLength>(lengths);
    }
    return false;
}

template <FastCode::Alphabet A>
bool FastCode::buildFor(std::span<const int32_t> lengths) {
    constexpr uint32_t PRIMARY_BITS = primaryBitsFor(A);
    constexpr uint32_t PRIMARY_SIZE = 1U << PRIMARY_BITS;
    // Lengths outside 1..15 mean "no code", as in HuffmanTable.
    std::array<uint32_t, MAX_CODE_LENGTH + 1> count{};
    for (int32_t length : lengths) ++count[length > 0 && length <= MAX_CODE_LENGTH ? static_cast<size_t>(length) : 0];
    uint32_t kraft = 0;  // code space used, in units of 2^-15
    uint32_t maxLength = 0;
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        kraft += count[length] << (MAX_CODE_LENGTH - length);
        if (count[length] != 0) maxLength = length;
    }

    // Room for the primary table and the worst case of subtables: one per
    // long code, each at most 2^(maxLength - PRIMARY_BITS) slots.
    size_t needed = PRIMARY_SIZE;
    if (maxLength > PRIMARY_BITS) needed += std::min<size_t>(lengths.size(), PRIMARY_SIZE) << (maxLength - PRIMARY_BITS);
    if (capacity_ < needed) {
        entries_ = std::make_unique_for_overwrite<uint32_t[]>(needed);
        capacity_ = needed;
    }
    uint32_t* const table = entries_.get();
    const bool complete = kraft == 1U << MAX_CODE_LENGTH;
    // A complete code writes every slot; otherwise the free ones hand over.
    if (!complete) std::fill(table, table + PRIMARY_SIZE, HAND_OVER);
    if (kraft > 1U << MAX_CODE_LENGTH || lengths.size() > MAX_SYMBOLS) return false;

    // Symbols sorted by code length, then by symbol: canonical code order.
    std::array<uint32_t, MAX_CODE_LENGTH + 2> offset{};
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) offset[length + 1] = offset[length] + count[length];
    std::array<uint16_t, MAX_SYMBOLS> sorted{};
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const int32_t length = lengths[symbol];
        if (length > 0 && length <= MAX_CODE_LENGTH) sorted[offset[static_cast<size_t>(length)]++] = static_cast<uint16_t>(symbol);
    }

    // Short codes go straight into the primary table. Codes are consecutive
    // within a length, and the first code of a length follows the last code
    // of the one before, shifted (RFC 1951, 3.2.2).
    uint32_t code = 0;
    size_t next = 0;
    uint32_t length = 1;
    for (; length <= PRIMARY_BITS; ++length, code <<= 1) {
        for (uint32_t n = 0; n < count[length]; ++n, ++code)
            fill(table, PRIMARY_SIZE, reversed(code, length), length, entryFor<A>(sorted[next++], length, PRIMARY_BITS));
    }

    // Long codes sharing their first PRIMARY_BITS bits come out together;
    // each such group gets a subtable as wide as its longest code needs.
    uint32_t subtableEnd = PRIMARY_SIZE;
    uint32_t groupPrefix = UINT32_MAX;
    uint32_t groupStart = 0;
    for (; length <= MAX_CODE_LENGTH; ++length, code <<= 1) {
        for (uint32_t n = 0; n < count[length]; ++n, ++code) {
            const uint32_t restBits = length - PRIMARY_BITS;
            const uint32_t prefix = code >> restBits;
            if (prefix != groupPrefix) {
                // The group's longest code is its last, as lengths only grow:
                // walk the codes still to come while they share the prefix.
                uint32_t lastLength = length;
                uint32_t walkCode = code;
                uint32_t walkLength = length;
                uint32_t left = count[length] - n;
                for (;;) {
                    while (left > 0 && walkCode >> (walkLength - PRIMARY_BITS) == prefix) {
                        lastLength = walkLength;
                        ++walkCode;
                        --left;
                    }
                    if (left > 0 || walkLength == MAX_CODE_LENGTH) break;
                    ++walkLength;
                    walkCode <<= 1;
                    left = count[walkLength];
                }
                const uint32_t subBits = lastLength - PRIMARY_BITS;
                groupPrefix = prefix;
                groupStart = subtableEnd;
                subtableEnd += 1U << subBits;
                if (!complete) std::fill(table + groupStart, table + subtableEnd, HAND_OVER);
                table[reversed(prefix, PRIMARY_BITS)] = SUBTABLE | groupStart << 16 | subBits << 12 | PRIMARY_BITS;
            }
            const uint32_t subSize = subtableEnd - groupStart;
            // Subtable slots carry the code's full length; their extra bits are read apart.
            fill(table + groupStart, subSize, reversed(code, restBits), restBits, entryFor<A>(sorted[next++], length, 0));
        }
    }
    return true;
}

}  // namespace korvane
