#include "dynamic_tables.hpp"

#include <array>
#include <span>

#include "deflate_tables.hpp"

namespace korvane {

void readDynamicLengths(BitReader& reader, DynamicLengths& result) {
    const auto hlit = static_cast<int32_t>(readBits(reader, 5)) + 257;
    const auto hdist = static_cast<int32_t>(readBits(reader, 5)) + 1;
    const auto hclen = static_cast<int32_t>(readBits(reader, 4)) + 4;

    std::array<int32_t, CODE_LENGTH_ORDER.size()> codeLengthLengths{};
    for (int32_t i = 0; i < hclen; ++i)
        codeLengthLengths[static_cast<size_t>(CODE_LENGTH_ORDER[static_cast<size_t>(i)])] =
            static_cast<int32_t>(readBits(reader, 3));

    HuffmanTable codeLengthTable;
    codeLengthTable.build(codeLengthLengths);

    const auto total = static_cast<size_t>(hlit + hdist);
    std::vector<int32_t>& lengths = result.lengths;
    lengths.clear();
    lengths.reserve(total);
    while (lengths.size() < total) {
        const int32_t symbol = codeLengthTable.decodeSymbol(reader);
        if (symbol < 16) {
            lengths.push_back(symbol);
        } else if (symbol == 16) {
            const auto repeat = readBits(reader, 2) + 3;
            const int32_t previous = lengths.empty() ? 0 : lengths.back();
            lengths.insert(lengths.end(), repeat, previous);
        } else if (symbol == 17) {
            lengths.insert(lengths.end(), readBits(reader, 3) + 3, 0);
        } else {
            lengths.insert(lengths.end(), readBits(reader, 7) + 11, 0);
        }
    }
    lengths.resize(total);  // the last run may overshoot; its excess is dropped
    result.litLenCount = hlit;
    result.distCount = hdist;
}

void readDynamicTables(BitReader& reader, HuffmanTable& literalTable, HuffmanTable& distanceTable) {
    DynamicLengths read;
    readDynamicLengths(reader, read);
    const std::span<const int32_t> all(read.lengths);
    literalTable.build(all.first(static_cast<size_t>(read.litLenCount)));
    distanceTable.build(all.subspan(static_cast<size_t>(read.litLenCount)));
}

}  // namespace korvane
