// HuffmanTable: slot layout, bit-by-bit decoding with the reader position after
// each symbol, and the deliberate handling of empty, incomplete and
// over-subscribed codes.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "decode_support.hpp"
#include "huffman_table.hpp"

namespace korvane {
namespace {

using deflate_writer::BitWriter;
using deflate_writer::Bytes;
using Slots = std::vector<std::pair<int32_t, int32_t>>;  // (symbol, length) per slot

Slots slotsOf(const HuffmanTable& table) {
    EXPECT_EQ(table.entries.size(), static_cast<size_t>(table.tableSize));
    Slots slots;
    for (const HuffmanEntry& e : table.entries) slots.emplace_back(e.symbol, e.length);
    return slots;
}

HuffmanTable tableOf(const std::vector<int32_t>& lengths) {
    HuffmanTable table;
    table.build(lengths);
    return table;
}

// Bits given in arrival order as a string of '0' and '1', after `skip` zero bits.
Bytes arrivalBits(const std::string& bits, int skip = 0) {
    BitWriter w;
    w.bits(0, skip);
    for (char c : bits) w.bits(c == '1' ? 1U : 0U, 1);
    return w.data();
}

struct Position {
    uint64_t bytePos;
    int32_t bitPos;
    bool operator==(const Position&) const = default;
};
void PrintTo(const Position& p, std::ostream* os) { *os << "byte " << p.bytePos << " bit " << p.bitPos; }
Position positionOf(const BitReader& r) { return {r.bytePos, r.bitPos}; }

// Decodes one symbol; returns its number or the error text, and the reader's position after.
std::pair<std::string, Position> decodeAt(const HuffmanTable& table, const Bytes& data, uint64_t bytePos = 0,
                                          int32_t bitPos = 0) {
    BitReader reader{data.data(), data.size(), bytePos, bitPos};
    try {
        return {std::to_string(table.decodeSymbol(reader)), positionOf(reader)};
    } catch (const DecodeError& e) {
        return {e.what(), positionOf(reader)};
    }
}

TEST(HuffmanTable, RfcExampleSlots) {
    const HuffmanTable table = tableOf({3, 3, 3, 3, 3, 2, 4, 4});
    EXPECT_EQ(table.tableSize, 16);
    // Codes 010 011 100 101 110 00 1110 1111, indexed by their bits in arrival order.
    EXPECT_EQ(slotsOf(table), (Slots{{5, 2},
                                     {2, 3},
                                     {0, 3},
                                     {4, 3},
                                     {5, 2},
                                     {3, 3},
                                     {1, 3},
                                     {6, 4},
                                     {5, 2},
                                     {2, 3},
                                     {0, 3},
                                     {4, 3},
                                     {5, 2},
                                     {3, 3},
                                     {1, 3},
                                     {7, 4}}));
}

TEST(HuffmanTable, RfcExampleDecodesBitByBit) {
    const HuffmanTable table = tableOf({3, 3, 3, 3, 3, 2, 4, 4});
    const std::vector<std::pair<std::string, int>> codes = {{"00", 5},  {"1110", 6}, {"010", 0}, {"011", 1},
                                                            {"100", 2}, {"101", 3},  {"110", 4}, {"1111", 7}};
    for (const auto& [bits, symbol] : codes) {
        // Every start bit, so that codes also cross a byte boundary; the bits after the code are 1s.
        for (int32_t start = 0; start < 8; ++start) {
            SCOPED_TRACE(bits + " from bit " + std::to_string(start));
            const auto end = static_cast<uint64_t>(start) + bits.size();
            const Position after{end / 8, static_cast<int32_t>(end % 8)};
            EXPECT_EQ(decodeAt(table, arrivalBits(bits + "11111111", start), 0, start),
                      std::make_pair(std::to_string(symbol), after));
        }
    }
}

TEST(HuffmanTable, EmptyTableFailsWithoutReading) {
    const Bytes data = {0x00, 0xFF};
    HuffmanTable rebuilt = tableOf({1, 1});
    rebuilt.build(std::vector<int32_t>{0, 0, 0});
    for (const HuffmanTable& table : {tableOf({}), tableOf({0, 0, 0, 0}), rebuilt}) {
        EXPECT_EQ(table.tableSize, 0);
        EXPECT_TRUE(table.entries.empty());
        EXPECT_EQ(decodeAt(table, data, 1, 3), std::make_pair(std::string(EMPTY_HUFFMAN_TREE), Position{1, 3}));
        // Not "Unexpected end of data": no bit is asked for.
        EXPECT_EQ(decodeAt(table, {}), std::make_pair(std::string(EMPTY_HUFFMAN_TREE), Position{0, 0}));
    }
}

TEST(HuffmanTable, SingleOneBitCodeLeavesOtherPatternUndecodable) {
    const HuffmanTable table = tableOf({0, 1});
    EXPECT_EQ(slotsOf(table), (Slots{{1, 1}, {-1, 0}}));
    EXPECT_EQ(decodeAt(table, {0xFE}), std::make_pair(std::string("1"), Position{0, 1}));
    // A 1 bit matches nothing; 16 bits are read before giving up.
    EXPECT_EQ(decodeAt(table, {0x01, 0x00, 0x00}), std::make_pair(std::string(INVALID_HUFFMAN_CODE), Position{2, 0}));
    EXPECT_EQ(decodeAt(table, {0xFF, 0xFF, 0xFF}, 0, 5),
              std::make_pair(std::string(INVALID_HUFFMAN_CODE), Position{2, 5}));
    EXPECT_EQ(decodeAt(table, {0x01}), std::make_pair(std::string(UNEXPECTED_END), Position{1, 0}));
}

TEST(HuffmanTable, OverSubscribedCodeHigherSymbolWins) {
    const HuffmanTable table = tableOf({1, 1, 1});
    EXPECT_EQ(slotsOf(table), (Slots{{2, 1}, {1, 1}}));
    EXPECT_EQ(decodeAt(table, {0x00}), std::make_pair(std::string("2"), Position{0, 1}));
    EXPECT_EQ(decodeAt(table, {0x01}), std::make_pair(std::string("1"), Position{0, 1}));
}

TEST(HuffmanTable, IncompleteCodeReadsSixteenBitsOrRunsOut) {
    // Codes 00, 01 and 10000; everything starting 11 or 10001 is free.
    const HuffmanTable table = tableOf({2, 2, 5});
    EXPECT_EQ(table.tableSize, 32);
    struct Case {
        std::string bits;
        int skip;
        std::string result;
        Position after;
    };
    const std::vector<Case> cases = {
        {"00", 0, "0", {0, 2}},
        {"01", 3, "1", {0, 5}},
        {"10000", 6, "2", {1, 3}},
        {"1100000000000000", 0, INVALID_HUFFMAN_CODE, {2, 0}},
        {"1000100000000000", 4, INVALID_HUFFMAN_CODE, {2, 4}},
        {"1000111", 0, UNEXPECTED_END, {1, 0}},          // the span ends after 8 bits
        {"100011111111111", 1, UNEXPECTED_END, {2, 0}},  // 15 bits left: one short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(decodeAt(table, arrivalBits(c.bits, c.skip), 0, c.skip), std::make_pair(c.result, c.after));
    }
}

TEST(HuffmanTable, FixedTablesFillEverySlot) {
    StreamDecoder decoder;
    decoder.buildFixedTables();
    EXPECT_EQ(decoder.fixedLitLen.tableSize, 512);
    EXPECT_EQ(decoder.fixedDist.tableSize, 32);
    for (const HuffmanTable* table : {&decoder.fixedLitLen, &decoder.fixedDist})
        for (const HuffmanEntry& e : table->entries) EXPECT_GT(e.length, 0) << "vacant slot";
    // The first and last code of each range of RFC 1951's fixed code.
    const std::vector<std::tuple<const HuffmanTable*, std::string, int>> codes = {
        {&decoder.fixedLitLen, "00110000", 0},    {&decoder.fixedLitLen, "10111111", 143},
        {&decoder.fixedLitLen, "110010000", 144}, {&decoder.fixedLitLen, "111111111", 255},
        {&decoder.fixedLitLen, "0000000", 256},   {&decoder.fixedLitLen, "0010111", 279},
        {&decoder.fixedLitLen, "11000000", 280},  {&decoder.fixedLitLen, "11000111", 287},
        {&decoder.fixedDist, "00000", 0},         {&decoder.fixedDist, "11111", 31}};
    for (const auto& [table, bits, symbol] : codes) {
        SCOPED_TRACE(bits);
        const Position after{bits.size() / 8, static_cast<int32_t>(bits.size() % 8)};
        EXPECT_EQ(decodeAt(*table, arrivalBits(bits + "1111111")), std::make_pair(std::to_string(symbol), after));
    }
}

TEST(HuffmanTable, RebuildReplacesWholeTable) {
    HuffmanTable table;
    table.build(deflate_writer::fixedLiteralLengths());
    ASSERT_EQ(table.tableSize, 512);
    // Slot 1 held a fixed-code symbol; it must come back vacant.
    table.build(std::vector<int32_t>{0, 1});
    EXPECT_EQ(slotsOf(table), (Slots{{1, 1}, {-1, 0}}));
    EXPECT_EQ(decodeAt(table, {0x01, 0x00}), std::make_pair(std::string(INVALID_HUFFMAN_CODE), Position{2, 0}));
    table.build(std::vector<int32_t>{2, 0, 1});
    EXPECT_EQ(slotsOf(table), (Slots{{2, 1}, {0, 2}, {2, 1}, {-1, 0}}));
}

}  // namespace
}  // namespace korvane
