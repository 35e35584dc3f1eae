// HuffmanTable: slot layout, bit-by-bit decoding with the reader position after
// each symbol, and the deliberate handling of empty, incomplete and
// over-subscribed codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_support.hpp"
#include "huffman_table.hpp"

namespace korvane {
namespace {

using deflate_writer::Bytes;

HuffmanTable tableOf(const std::vector<int32_t>& lengths) {
    HuffmanTable table;
    table.build(lengths);
    return table;
}

// The slots as "symbol/length", in index order.
std::string slotsOf(const HuffmanTable& table) {
    EXPECT_EQ(table.entries.size(), static_cast<size_t>(table.tableSize));
    std::string slots;
    for (const HuffmanEntry& e : table.entries)
        slots += std::to_string(e.symbol) + "/" + std::to_string(e.length) + " ";
    return slots;
}

// Decodes one symbol from `data` at bit `bitPos` of its byte `bytePos`: the
// symbol or the error text, then "@ byte.bit" where the reader stopped.
std::string decodeAt(const HuffmanTable& table, const Bytes& data, uint64_t bytePos = 0, int32_t bitPos = 0) {
    BitReader reader{data.data(), data.size(), bytePos, bitPos};
    std::string result;
    try {
        result = std::to_string(table.decodeSymbol(reader));
    } catch (const DecodeError& e) {
        result = e.what();
    }
    return result + " @ " + std::to_string(reader.bytePos) + "." + std::to_string(reader.bitPos);
}

// Bits given in arrival order as a string of '0' and '1', after `skip` zero
// bits, decoded from bit `skip` on.
std::string decodeBits(const HuffmanTable& table, const std::string& bits, int skip = 0) {
    return decodeAt(table, deflate_writer::BitWriter().bits(0, skip).arrival(bits).data(), 0, skip);
}

TEST(HuffmanTable, RfcExample) {
    const HuffmanTable table = tableOf({3, 3, 3, 3, 3, 2, 4, 4});
    EXPECT_EQ(table.tableSize, 16);
    // Codes 010 011 100 101 110 00 1110 1111, indexed by their bits in arrival order.
    EXPECT_EQ(slotsOf(table), "5/2 2/3 0/3 4/3 5/2 3/3 1/3 6/4 5/2 2/3 0/3 4/3 5/2 3/3 1/3 7/4 ");
    const std::pair<std::string, int> codes[] = {{"00", 5},  {"1110", 6}, {"010", 0}, {"011", 1},
                                                 {"100", 2}, {"101", 3},  {"110", 4}, {"1111", 7}};
    for (const auto& [bits, symbol] : codes)
        // Every start bit, so that codes also cross a byte boundary; the bits after the code are 1s.
        for (int start = 0; start < 8; ++start) {
            const auto end = static_cast<size_t>(start) + bits.size();
            EXPECT_EQ(decodeBits(table, bits + "11111111", start),
                      std::to_string(symbol) + " @ " + std::to_string(end / 8) + "." + std::to_string(end % 8));
        }
}

TEST(HuffmanTable, EmptyTableFailsWithoutReading) {
    HuffmanTable rebuilt = tableOf({1, 1});
    rebuilt.build(std::vector<int32_t>{0, 0, 0});
    for (const HuffmanTable& table : {tableOf({}), tableOf({0, 0, 0, 0}), rebuilt}) {
        EXPECT_EQ(table.tableSize, 0);
        EXPECT_TRUE(table.entries.empty());
        EXPECT_EQ(decodeAt(table, {0x00, 0xFF}, 1, 3), std::string(EMPTY_HUFFMAN_TREE) + " @ 1.3");
        // Not "Unexpected end of data": no bit is asked for.
        EXPECT_EQ(decodeAt(table, {}), std::string(EMPTY_HUFFMAN_TREE) + " @ 0.0");
    }
}

TEST(HuffmanTable, IncompleteAndOverSubscribedCodes) {
    const std::string invalid = INVALID_HUFFMAN_CODE;
    const std::string end = UNEXPECTED_END;
    // A single code of one bit: a 1 bit matches nothing, and 16 bits are read before giving up.
    const HuffmanTable single = tableOf({0, 1});
    EXPECT_EQ(slotsOf(single), "1/1 -1/0 ");
    EXPECT_EQ(decodeAt(single, {0xFE}), "1 @ 0.1");
    EXPECT_EQ(decodeAt(single, {0x01, 0x00, 0x00}), invalid + " @ 2.0");
    EXPECT_EQ(decodeAt(single, {0xFF, 0xFF, 0xFF}, 0, 5), invalid + " @ 2.5");
    EXPECT_EQ(decodeAt(single, {0x01}), end + " @ 1.0");

    // Over-subscribed: the higher symbol wins the shared slot; symbol 0 is lost.
    const HuffmanTable over = tableOf({1, 1, 1});
    EXPECT_EQ(slotsOf(over), "2/1 1/1 ");
    EXPECT_EQ(decodeAt(over, {0x00}), "2 @ 0.1");
    EXPECT_EQ(decodeAt(over, {0x01}), "1 @ 0.1");

    // Codes 00, 01 and 10000; everything starting 11 or 10001 is free.
    const HuffmanTable incomplete = tableOf({2, 2, 5});
    EXPECT_EQ(incomplete.tableSize, 32);
    EXPECT_EQ(decodeBits(incomplete, "00"), "0 @ 0.2");
    EXPECT_EQ(decodeBits(incomplete, "01", 3), "1 @ 0.5");
    EXPECT_EQ(decodeBits(incomplete, "10000", 6), "2 @ 1.3");
    EXPECT_EQ(decodeBits(incomplete, "1100000000000000"), invalid + " @ 2.0");
    EXPECT_EQ(decodeBits(incomplete, "1000100000000000", 4), invalid + " @ 2.4");
    EXPECT_EQ(decodeBits(incomplete, "1000111"), end + " @ 1.0");             // the span ends after 8 bits
    EXPECT_EQ(decodeBits(incomplete, "100011111111111", 1), end + " @ 2.0");  // 15 bits left: one short
}

TEST(HuffmanTable, FixedTablesFillEverySlot) {
    StreamDecoder decoder;
    decoder.buildFixedTables();
    EXPECT_EQ(decoder.fixedLitLen.tableSize, 512);
    EXPECT_EQ(decoder.fixedDist.tableSize, 32);
    for (const HuffmanTable* table : {&decoder.fixedLitLen, &decoder.fixedDist})
        for (const HuffmanEntry& e : table->entries) EXPECT_GT(e.length, 0) << "vacant slot";
}

TEST(HuffmanTable, RebuildReplacesWholeTable) {
    HuffmanTable table = tableOf(deflate_writer::fixedLiteralLengths());
    ASSERT_EQ(table.tableSize, 512);
    // Slot 1 held a fixed-code symbol; it must come back vacant.
    table.build(std::vector<int32_t>{0, 1});
    EXPECT_EQ(slotsOf(table), "1/1 -1/0 ");
    EXPECT_EQ(decodeAt(table, {0x01, 0x00}), std::string(INVALID_HUFFMAN_CODE) + " @ 2.0");
    table.build(std::vector<int32_t>{2, 0, 1});
    EXPECT_EQ(slotsOf(table), "2/1 0/2 2/1 -1/0 ");
}

}  // namespace
}  // namespace korvane
