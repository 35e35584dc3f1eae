#include "huffman_table.hpp"

#include <array>

namespace korvane {

namespace {
bool hasCode(int32_t length) { return length > 0 && length <= MAX_CODE_LENGTH; }
}  // namespace

void HuffmanTable::build(std::span<const int32_t> lengths) {
    int32_t maxLength = 0;
    for (int32_t length : lengths)
        if (hasCode(length) && length > maxLength) maxLength = length;

    if (maxLength == 0) {
        entries.clear();
        tableSize = 0;
        return;
    }

    std::array<uint32_t, MAX_CODE_LENGTH + 1> lengthCount{};
    for (int32_t length : lengths)
        if (hasCode(length)) ++lengthCount[static_cast<size_t>(length)];

    // First code of each length (RFC 1951, 3.2.2). Over-subscribed lengths make
    // codes run past their width; only their low bits are used below.
    std::array<uint32_t, MAX_CODE_LENGTH + 1> nextCode{};
    uint32_t code = 0;
    for (int32_t length = 1; length <= maxLength; ++length) {
        auto l = static_cast<size_t>(length);
        code = (code + lengthCount[l - 1]) << 1;
        nextCode[l] = code;
    }

    std::vector<uint32_t> codes(lengths.size());
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
        if (hasCode(lengths[symbol])) codes[symbol] = nextCode[static_cast<size_t>(lengths[symbol])]++;

    tableSize = int32_t{1} << maxLength;
    entries.assign(static_cast<size_t>(tableSize), HuffmanEntry{});

    // Symbols are written in ascending order, so on a collision the higher one wins.
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        int32_t length = lengths[symbol];
        if (!hasCode(length)) continue;
        uint32_t stride = uint32_t{1} << length;
        for (uint32_t i = reverseBits(codes[symbol], length); i < static_cast<uint32_t>(tableSize); i += stride)
            entries[i] = HuffmanEntry{static_cast<int32_t>(symbol), length};
    }
}

int32_t HuffmanTable::decodeSymbol(BitReader& reader) const {
    if (tableSize == 0) throwDecodeError(EMPTY_HUFFMAN_TREE);
    uint32_t code = 0;
    for (int32_t count = 1;; ++count) {
        code |= readBits(reader, 1) << (count - 1);
        if (code < static_cast<uint32_t>(tableSize)) {
            const HuffmanEntry& entry = entries[code];
            if (entry.length == count) return entry.symbol;
        }
        if (count == MAX_CODE_BITS_READ) throwDecodeError(INVALID_HUFFMAN_CODE);
    }
}

}  // namespace korvane
