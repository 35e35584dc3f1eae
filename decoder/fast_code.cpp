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
// inside the index, the entry consumes them too and `foldedMask` is set: the
// slot's bits above the code, masked with it, are added to the value.
struct SymbolEntry {
    uint32_t entry;
    uint32_t foldedMask;
};

SymbolEntry entryFor(int32_t symbol, uint32_t length, FastCode::Alphabet alphabet, uint32_t indexBits) {
    const auto s = static_cast<uint32_t>(symbol);
    int32_t base = 0;
    int32_t extra = 0;
    switch (alphabet) {
        case FastCode::Alphabet::CodeLength: return {literalEntry(s, length), 0};
        case FastCode::Alphabet::Distance:
            if (symbol >= DIST_SYMBOL_COUNT) return {FastCode::HAND_OVER, 0};
            base = DIST_BASE[s];
            extra = DIST_EXTRA[s];
            break;
        case FastCode::Alphabet::LiteralLength:
            if (symbol < END_OF_BLOCK) return {literalEntry(s, length), 0};
            if (symbol == END_OF_BLOCK) return {FastCode::END_BLOCK | length, 0};
            if (s - FIRST_LENGTH_SYMBOL >= static_cast<uint32_t>(LENGTH_SYMBOL_COUNT)) return {FastCode::HAND_OVER, 0};
            base = LENGTH_BASE[s - FIRST_LENGTH_SYMBOL];
            extra = LENGTH_EXTRA[s - FIRST_LENGTH_SYMBOL];
            break;
    }
    const auto extraBits = static_cast<uint32_t>(extra);
    if (length + extraBits <= indexBits)
        return {baseEntry(static_cast<uint32_t>(base), 0, length + extraBits), (1U << extraBits) - 1};
    return {baseEntry(static_cast<uint32_t>(base), extraBits, length), 0};
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

}  // namespace

bool FastCode::build(std::span<const int32_t> lengths, Alphabet alphabet) {
    // Lengths outside 1..15 mean "no code", as in HuffmanTable.
    auto codeLength = [](int32_t length) -> uint32_t {
        return length > 0 && length <= MAX_CODE_LENGTH ? static_cast<uint32_t>(length) : 0;
    };

    std::array<uint32_t, MAX_CODE_LENGTH + 1> count{};
    for (int32_t length : lengths) ++count[codeLength(length)];
    count[0] = 0;
    uint32_t kraft = 0;  // code space used, in units of 2^-15
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        kraft += count[length] << (MAX_CODE_LENGTH - length);
    }

    // The primary width is fixed per alphabet, so the decoder can use a
    // constant mask; short codes are simply repeated across it.
    const uint32_t primaryBits = primaryBitsFor(alphabet);
    const uint32_t primarySize = 1U << primaryBits;
    entries_.assign(primarySize, HAND_OVER);
    if (kraft > (1U << MAX_CODE_LENGTH)) return false;

    std::array<uint32_t, MAX_CODE_LENGTH + 2> nextCode{};
    uint32_t code = 0;
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        code = (code + count[length - 1]) << 1;
        nextCode[length] = code;
    }

    // Short codes go straight into the primary table; long ones are listed in
    // canonical order (by length, then symbol), which is also the order of
    // their codes, so codes sharing a primary prefix come out together.
    struct LongCode {
        int32_t symbol;
        uint32_t length;
        uint32_t code;
    };
    std::array<uint32_t, MAX_CODE_LENGTH + 2> longStart{};
    for (uint32_t length = primaryBits + 1; length <= MAX_CODE_LENGTH; ++length)
        longStart[length + 1] = longStart[length] + count[length];
    std::vector<LongCode> longCodes(longStart[MAX_CODE_LENGTH + 1]);

    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const uint32_t length = codeLength(lengths[symbol]);
        if (length == 0) continue;
        const uint32_t symbolCode = nextCode[length]++;
        if (length > primaryBits) {
            longCodes[longStart[length]++] = {static_cast<int32_t>(symbol), length, symbolCode};
            continue;
        }
        fill(entries_.data(), primarySize, reverseBits(symbolCode, static_cast<int>(length)), length,
             entryFor(static_cast<int32_t>(symbol), length, alphabet, primaryBits));
    }

    for (size_t first = 0; first < longCodes.size();) {
        auto prefixOf = [primaryBits](const LongCode& c) { return c.code >> (c.length - primaryBits); };
        const uint32_t prefix = prefixOf(longCodes[first]);
        size_t last = first;
        while (last + 1 < longCodes.size() && prefixOf(longCodes[last + 1]) == prefix) ++last;

        const uint32_t subBits = longCodes[last].length - primaryBits;
        const auto start = static_cast<uint32_t>(entries_.size());
        entries_.resize(entries_.size() + (size_t{1} << subBits), HAND_OVER);
        entries_[reverseBits(prefix, static_cast<int>(primaryBits))] = SUBTABLE | start << 16 | subBits << 12 | primaryBits;
        for (size_t k = first; k <= last; ++k) {
            const LongCode& c = longCodes[k];
            const uint32_t restBits = c.length - primaryBits;
            // Subtable slots carry the code's full length; their extra bits are read apart.
            fill(entries_.data() + start, 1U << subBits, reverseBits(c.code, static_cast<int>(restBits)), restBits,
                 entryFor(c.symbol, c.length, alphabet, 0));
        }
        first = last + 1;
    }

    return true;
}

}  // namespace korvane
