#include "fast_code.hpp"

#include <algorithm>
#include <array>

#include "deflate_tables.hpp"
#include "huffman_table.hpp"

namespace korvane {

namespace {

// Each symbol's entry less its code length, which build() adds: a literal's
// byte, the end of block, or a base value with its extra-bit count, kept in
// the bit count too so that the entry consumes code and extra bits together.
// Symbols that are always an error hand over.
template <FastAlphabet A>
constexpr auto SYMBOL_ENTRIES = [] {
    std::array<uint32_t, FastCode<A>::MAX_SYMBOLS> entries{};
    auto base = [](int32_t value, int32_t extra) {
        return static_cast<uint32_t>(value) << 16 | static_cast<uint32_t>(extra) << 8 | static_cast<uint32_t>(extra);
    };
    for (uint32_t symbol = 0; symbol < entries.size(); ++symbol) {
        uint32_t& entry = entries[symbol];
        if (A == FastAlphabet::CodeLength || (A == FastAlphabet::LiteralLength && symbol < END_OF_BLOCK)) {
            entry = FastEntry::LITERAL | symbol << 8;
        } else if (A == FastAlphabet::Distance) {
            entry = symbol < DIST_SYMBOL_COUNT ? base(DIST_BASE[symbol], DIST_EXTRA[symbol]) : FastEntry::HAND_OVER;
        } else if (symbol == END_OF_BLOCK) {
            entry = FastEntry::END_BLOCK;
        } else {
            const uint32_t index = symbol - FIRST_LENGTH_SYMBOL;
            entry = index < LENGTH_SYMBOL_COUNT ? base(LENGTH_BASE[index], LENGTH_EXTRA[index]) : FastEntry::HAND_OVER;
        }
    }
    return entries;
}();

// Adding a code length to an entry must leave its kind alone.
static_assert((FastEntry::HAND_OVER + MAX_CODE_LENGTH) >> 6 == FastEntry::HAND_OVER >> 6);

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

}  // namespace

template <FastAlphabet A>
bool FastCode<A>::build(std::span<const int32_t> lengths) {
    constexpr uint32_t PRIMARY_SIZE = 1U << PRIMARY_BITS;
    uint32_t* const table = entries_.data();
    if (lengths.size() > MAX_SYMBOLS) {
        std::fill(table, table + PRIMARY_SIZE, FastEntry::HAND_OVER);
        return false;
    }

    // The symbols are counted, and later sorted, in PARTS interleaved runs
    // over consecutive stretches of the alphabet, each with its own counters:
    // with one set, every symbol would wait for the previous symbol's update
    // whenever their lengths are equal, as they mostly are. Symbols past the
    // list, padding the last stretch, have no code.
    constexpr size_t PARTS = 4;
    constexpr size_t PART_SIZE = (MAX_SYMBOLS + PARTS - 1) / PARTS;
    std::array<uint8_t, PARTS * PART_SIZE> codeLength{};
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        // Lengths outside 1..15 mean "no code", as in HuffmanTable (a
        // negative length becomes a large unsigned one).
        const auto length = static_cast<uint32_t>(lengths[symbol]);
        codeLength[symbol] = static_cast<uint8_t>(length <= MAX_CODE_LENGTH ? length : 0);
    }
    std::array<std::array<uint32_t, MAX_CODE_LENGTH + 1>, PARTS> partCount{};
    for (size_t i = 0; i < PART_SIZE; ++i)
        for (size_t part = 0; part < PARTS; ++part) ++partCount[part][codeLength[part * PART_SIZE + i]];
    std::array<uint32_t, MAX_CODE_LENGTH + 1> count{};
    uint32_t kraft = 0;  // code space used, in units of 2^-15
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        for (size_t part = 0; part < PARTS; ++part) count[length] += partCount[part][length];
        kraft += count[length] << (MAX_CODE_LENGTH - length);
        if (length > MAX_LENGTH && count[length] != 0) kraft = UINT32_MAX;  // too long for this table
    }
    if (kraft > 1U << MAX_CODE_LENGTH) {
        std::fill(table, table + PRIMARY_SIZE, FastEntry::HAND_OVER);
        return false;
    }
    const bool complete = kraft == 1U << MAX_CODE_LENGTH;

    // Symbols sorted by code length, then by symbol: canonical code order.
    // Within a length, each part's symbols follow those of the parts before.
    // Symbols without a code are sorted too, after all the others, which
    // spares the loop a hard-to-predict branch.
    std::array<std::array<uint32_t, MAX_CODE_LENGTH + 1>, PARTS> partOffset;
    uint32_t start = 0;
    auto place = [&](uint32_t length) {
        for (size_t part = 0; part < PARTS; ++part) {
            partOffset[part][length] = start;
            start += partCount[part][length];
        }
    };
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) place(length);
    place(0);
    std::array<uint16_t, PARTS * PART_SIZE> sorted;
    for (size_t i = 0; i < PART_SIZE; ++i)
        for (size_t part = 0; part < PARTS; ++part) {
            const size_t symbol = part * PART_SIZE + i;
            sorted[partOffset[part][codeLength[symbol]]++] = static_cast<uint16_t>(symbol);
        }

    // Short codes: the table is grown one bit at a time. Doubling it repeats
    // every shorter code (and every free pattern) into the new half; then each
    // code of the new length takes its single slot. Codes are consecutive
    // within a length, and the first code of a length follows the last code
    // of the one before, shifted (RFC 1951, 3.2.2).
    const auto& symbolEntries = SYMBOL_ENTRIES<A>;
    table[0] = FastEntry::HAND_OVER;
    uint32_t code = 0;
    size_t next = 0;
    uint32_t length = 1;
    for (; length <= PRIMARY_BITS; ++length, code <<= 1) {
        const uint32_t half = 1U << (length - 1);
        std::copy_n(table, half, table + half);
        for (uint32_t n = 0; n < count[length]; ++n, ++code)
            table[reversed(code, length)] = symbolEntries[sorted[next++]] + length;
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
                if (!complete) std::fill(table + groupStart, table + subtableEnd, FastEntry::HAND_OVER);
                table[reversed(prefix, PRIMARY_BITS)] =
                    FastEntry::SUBTABLE | groupStart << 16 | subBits << 12 | PRIMARY_BITS;
            }
            // Subtable slots carry the code's full length.
            const uint32_t entry = symbolEntries[sorted[next++]] + length;
            for (uint32_t i = reversed(code, restBits); i < subtableEnd - groupStart; i += 1U << restBits)
                table[groupStart + i] = entry;
        }
    }
    return true;
}

template class FastCode<FastAlphabet::LiteralLength>;
template class FastCode<FastAlphabet::Distance>;
template class FastCode<FastAlphabet::CodeLength>;

}  // namespace korvane
