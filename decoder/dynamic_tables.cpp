#include "dynamic_tables.hpp"

#include <array>

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

    const auto total = static_cast<size_t>(hlit) + static_cast<size_t>(hdist);
    result.count = 0;
    while (result.count < total) {
        const int32_t symbol = codeLengthTable.decodeSymbol(reader);
        if (symbol < 16) {
            result.append(symbol, 1);
        } else if (symbol == 16) {
            const auto repeat = readBits(reader, 2) + 3;
            result.append(result.count == 0 ? 0 : result.lengths[result.count - 1], repeat);
        } else if (symbol == 17) {
            result.append(0, readBits(reader, 3) + 3);
        } else {
            result.append(0, readBits(reader, 7) + 11);
        }
    }
    result.count = total;  // the last run may overshoot; its excess is dropped
    result.litLenCount = hlit;
    result.distCount = hdist;
}

void readDynamicTables(BitReader& reader, HuffmanTable& literalTable, HuffmanTable& distanceTable) {
    DynamicLengths read;
    readDynamicLengths(reader, read);
    literalTable.build(read.literal());
    distanceTable.build(read.distance());
}

}  // namespace korvane
