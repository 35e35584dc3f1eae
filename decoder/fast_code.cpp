#include "fast_code.hpp"

#include <algorithm>
#include <array>

#include "deflate_tables.hpp"
#include "huffman_table.hpp"

namespace korvane {

namespace {

constexpr uint32_t literalEntry(uint32_t byte, uint32_t bits) { return FastEntry::LITERAL | byte << 8 | bits; }
constexpr uint32_t baseEntry(uint32_t value, uint32_t extra, uint32_t bits) { return value << 16 | extra << 8 | bits; }

// What decoding `symbol` means, for a code of `length` bits in a table whose
// index holds `indexBits` bits of input. When the symbol's extra bits also lie
// inside the index, `foldedMask` is set: the slot's bits above the code,
// masked with it, are added to the value.
struct SymbolEntry {
    uint32_t entry;
    uint32_t foldedMask;
};

template <FastAlphabet A>
SymbolEntry entryFor(uint32_t symbol, uint32_t length, uint32_t indexBits) {
    if constexpr (A == FastAlphabet::CodeLength) return {literalEntry(symbol, length), 0};
    uint32_t base = 0;
    uint32_t extra = 0;
    if constexpr (A == FastAlphabet::Distance) {
        if (symbol >= static_cast<uint32_t>(DIST_SYMBOL_COUNT)) return {FastEntry::HAND_OVER, 0};
        base = static_cast<uint32_t>(DIST_BASE[symbol]);
        extra = static_cast<uint32_t>(DIST_EXTRA[symbol]);
    } else {
        if (symbol < END_OF_BLOCK) return {literalEntry(symbol, length), 0};
        if (symbol == END_OF_BLOCK) return {FastEntry::END_BLOCK | length, 0};
        const uint32_t index = symbol - FIRST_LENGTH_SYMBOL;
        if (index >= static_cast<uint32_t>(LENGTH_SYMBOL_COUNT)) return {FastEntry::HAND_OVER, 0};
        base = static_cast<uint32_t>(LENGTH_BASE[index]);
        extra = static_cast<uint32_t>(LENGTH_EXTRA[index]);
    }
    // Either way the entry consumes the code and its extra bits. Distances
    // are not folded: the decoder adds their extra bits without a branch
    // anyway, and filling the slots one by one would only slow the build.
    if (A != FastAlphabet::Distance && length + extra <= indexBits)
        return {baseEntry(base, 0, length + extra), (1U << extra) - 1};
    return {baseEntry(base, extra, length + extra), 0};
}

// Writes `entry` into every slot of table[0, size) whose low `length` bits
// are `code` (in arrival order).
void fill(uint32_t* table, uint32_t size, uint32_t code, uint32_t length, SymbolEntry entry) {
    const uint32_t stride = 1U << length;
    if (entry.foldedMask == 0) {
        for (uint32_t i = code; i < size; i += stride) table[i] = entry.entry;
    } else {
        for (uint32_t i = code; i < size; i += stride)
            table[i] = entry.entry + (((i >> length) & entry.foldedMask) << 16);
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

}  // namespace

template <FastAlphabet A>
bool FastCode<A>::build(std::span<const int32_t> lengths) requires(A != FastAlphabet::LiteralLength) {
    return buildTable(lengths);
}

template <FastAlphabet A>
bool FastCode<A>::build(std::span<const int32_t> lengths,
                        const FastCode<FastAlphabet::Distance>& distance) requires(A == FastAlphabet::LiteralLength) {
    if (!buildTable(lengths)) return false;
    pairLengthsWith(distance);
    return true;
}

template <FastAlphabet A>
bool FastCode<A>::buildTable(std::span<const int32_t> lengths) {
    constexpr uint32_t PRIMARY_SIZE = 1U << PRIMARY_BITS;
    uint32_t* const table = entries_.data();
    // Lengths outside 1..15 mean "no code", as in HuffmanTable (a negative
    // length becomes a large unsigned one).
    auto codeLength = [](int32_t length) {
        const auto l = static_cast<uint32_t>(length);
        return l <= MAX_CODE_LENGTH ? l : 0;
    };

    // The symbols are counted, and later sorted, in PARTS interleaved runs
    // over consecutive stretches of the alphabet, each with its own counters:
    // with one set, every symbol would wait for the previous symbol's update
    // whenever their lengths are equal, as they mostly are.
    constexpr size_t PARTS = 4;
    const size_t partSize = (lengths.size() + PARTS - 1) / PARTS;
    auto forEachSymbol = [&](auto visit) {
        for (size_t i = 0; i < partSize; ++i)
            for (size_t part = 0; part < PARTS; ++part)
                if (const size_t symbol = part * partSize + i; symbol < lengths.size())
                    visit(part, symbol, codeLength(lengths[symbol]));
    };
    std::array<std::array<uint32_t, MAX_CODE_LENGTH + 1>, PARTS> partCount{};
    forEachSymbol([&](size_t part, size_t, uint32_t length) { ++partCount[part][length]; });
    std::array<uint32_t, MAX_CODE_LENGTH + 1> count{};
    for (uint32_t length = 0; length <= MAX_CODE_LENGTH; ++length)
        for (size_t part = 0; part < PARTS; ++part) count[length] += partCount[part][length];
    uint32_t kraft = 0;  // code space used, in units of 2^-15
    bool tooLong = false;
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        kraft += count[length] << (MAX_CODE_LENGTH - length);
        tooLong = tooLong || (length > MAX_LENGTH && count[length] != 0);
    }
    if (kraft > 1U << MAX_CODE_LENGTH || lengths.size() > MAX_SYMBOLS || tooLong) {
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
    std::array<uint16_t, MAX_SYMBOLS> sorted;
    forEachSymbol([&](size_t part, size_t symbol, uint32_t length) {
        sorted[partOffset[part][length]++] = static_cast<uint16_t>(symbol);
    });

    // Short codes: the table is grown one bit at a time. Doubling it repeats
    // every shorter code (and every free pattern) into the new half; then each
    // code of the new length takes its single slot. Codes are consecutive
    // within a length, and the first code of a length follows the last code
    // of the one before, shifted (RFC 1951, 3.2.2).
    // Codes whose extra bits fit in the index carry their final value in each
    // slot; those slots differ, so they are written one by one at the end.
    struct Folded {
        uint32_t slot;
        uint32_t length;
        SymbolEntry entry;
    };
    std::array<Folded, MAX_SYMBOLS> folded;
    size_t foldedCount = 0;
    lengthCodeCount_ = 0;
    table[0] = FastEntry::HAND_OVER;
    uint32_t code = 0;
    size_t next = 0;
    uint32_t length = 1;
    for (; length <= PRIMARY_BITS; ++length, code <<= 1) {
        const uint32_t half = 1U << (length - 1);
        std::copy_n(table, half, table + half);
        for (uint32_t n = 0; n < count[length]; ++n, ++code) {
            const uint32_t symbol = sorted[next++];
            const SymbolEntry entry = entryFor<A>(symbol, length, PRIMARY_BITS);
            const uint32_t slot = reversed(code, length);
            table[slot] = entry.entry;
            if (A == FastAlphabet::LiteralLength && symbol > END_OF_BLOCK &&
                symbol < static_cast<uint32_t>(FIRST_LENGTH_SYMBOL + LENGTH_SYMBOL_COUNT))
                lengthCodes_[lengthCodeCount_++] = {static_cast<uint16_t>(slot), static_cast<uint16_t>(length)};
            if (entry.foldedMask != 0) folded[foldedCount++] = {slot, length, entry};
        }
    }
    for (size_t i = 0; i < foldedCount; ++i)
        fill(table, PRIMARY_SIZE, folded[i].slot, folded[i].length, folded[i].entry);

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
            // Subtable slots carry the code's full length; their extra bits are read apart.
            fill(table + groupStart, subtableEnd - groupStart, reversed(code, restBits), restBits,
                 entryFor<A>(sorted[next++], length, 0));
        }
    }
    return true;
}

template <FastAlphabet A>
void FastCode<A>::pairLengthsWith(const FastCode<FastAlphabet::Distance>& distance) {
    static_assert(PRIMARY_BITS + *std::ranges::max_element(DIST_EXTRA) <= 63,
                  "a PAIRED entry's bit count fits in bits 0-5");
    static_assert(DIST_BASE.back() < 1 << 15, "a distance base fits in bits 16-30");
    uint32_t* const table = entries_.data();
    for (size_t n = 0; n < lengthCodeCount_; ++n) {
        const uint32_t stride = 1U << lengthCodes_[n].length;
        // Every slot of the code: with folded extra bits, each holds its own length.
        for (uint32_t slot = lengthCodes_[n].slot; slot < 1U << PRIMARY_BITS; slot += stride) {
            const uint32_t entry = table[slot];
            const uint32_t used = FastEntry::bits(entry);  // the length code and its extra bits
            const uint32_t copyLength = FastEntry::baseValue(entry);
            if (copyLength > FastEntry::MAX_PAIRED_LENGTH) continue;
            // The index bits above the length: the distance code, if it is
            // short enough to lie wholly among them. (A length whose extra
            // bits are read apart already takes more bits than the index has.)
            const uint32_t distanceEntry = distance.lookup(slot >> used);
            if (FastEntry::isExceptional(distanceEntry)) continue;
            const uint32_t distanceExtra = FastEntry::extra(distanceEntry);
            if (used + FastEntry::bits(distanceEntry) - distanceExtra > PRIMARY_BITS) continue;
            table[slot] = FastEntry::PAIRED | (used + FastEntry::bits(distanceEntry)) | distanceExtra << 8 |
                          (copyLength - FastEntry::MIN_PAIRED_LENGTH) << 12 | FastEntry::baseValue(distanceEntry) << 16;
        }
    }
}

template class FastCode<FastAlphabet::LiteralLength>;
template class FastCode<FastAlphabet::Distance>;
template class FastCode<FastAlphabet::CodeLength>;

}  // namespace korvane
