// HuffmanTable: slot layout, bit-by-bit decoding with the reader position after
// each symbol, and the deliberate handling of empty, incomplete and
// over-subscribed codes.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "decode_support.hpp"
#include "huffman_table.hpp"

namespace korvane::test {
namespace {

// Decodes one symbol from bits given in arrival order, read from bit `skip`
// on (the bits before it are zeros): the symbol or the error text, then
// "@ byte.bit" where the reader stopped.
std::string decodeBits(const HuffmanTable& table, const std::string& bits, int skip = 0) {
    const Bytes data = deflate_writer::BitWriter().bits(0, skip).arrival(bits).data();
    BitReader reader{data.data(), data.size(), static_cast<uint64_t>(skip / 8), skip % 8};
    std::string result;
    try {
        result = std::to_string(table.decodeSymbol(reader));
    } catch (const DecodeError& e) {
        result = e.what();
    }
    return result + " @ " + std::to_string(reader.bytePos) + "." + std::to_string(reader.bitPos);
}

TEST(HuffmanTable, RfcExample) {
    HuffmanTable table;
    table.build(std::vector<int32_t>{3, 3, 3, 3, 3, 2, 4, 4});
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

// Every case rebuilds the same table, so nothing of the one before may survive
// (the first leaves a full 512-slot table behind). Where slots of two symbols
// coincide, the higher symbol holds them; a code is taken only when exactly
// its own number of bits has been read.
TEST(HuffmanTable, EmptyIncompleteAndOverSubscribedCodes) {
    const std::string empty = EMPTY_HUFFMAN_TREE;
    const std::string invalid = INVALID_HUFFMAN_CODE;
    const std::string end = UNEXPECTED_END;
    const std::vector<std::pair<std::vector<int32_t>, std::vector<std::tuple<int, std::string, std::string>>>> cases = {
        {deflate_writer::fixedLiteralLengths(), {{0, "0000000", "256 @ 0.7"}}},
        // A single code of one bit: a 1 matches nothing, and 16 bits are read before giving up.
        {{0, 1},
         {{0, "0", "1 @ 0.1"},
          {0, "1000000000000000", invalid + " @ 2.0"},
          {5, "1111111111111111", invalid + " @ 2.5"},
          {0, "1000000", end + " @ 1.0"}}},
        // Symbol 0 loses its slot to symbol 2.
        {{1, 1, 1}, {{0, "0", "2 @ 0.1"}, {0, "1", "1 @ 0.1"}}},
        // Symbol 2 (code 00) takes slot 0 from symbol 0 (code 0), which keeps slot 2: "01" is no code.
        {{1, 1, 2}, {{0, "00", "2 @ 0.2"}, {0, "0100000000000000", invalid + " @ 2.0"}}},
        {{2, 2, 2, 2}, {{0, "11", "3 @ 0.2"}}},
        {{2, 0, 1}, {{0, "0", "2 @ 0.1"}, {0, "10", "0 @ 0.2"}, {0, "1100000000000000", invalid + " @ 2.0"}}},
        // Codes 00, 01 and 10000; everything starting 11 or 10001 is free.
        {{2, 2, 5},
         {{0, "00", "0 @ 0.2"},
          {3, "01", "1 @ 0.5"},
          {6, "10000", "2 @ 1.3"},
          {0, "1100000000000000", invalid + " @ 2.0"},
          {4, "1000100000000000", invalid + " @ 2.4"},
          {0, "1000111", end + " @ 1.0"},            // the span ends after 8 bits
          {1, "100011111111111", end + " @ 2.0"}}},  // 15 bits left: one short
        // No code at all: fails without asking for a bit, even when none is left.
        {{0, 0, 0}, {{11, "", empty + " @ 1.3"}, {0, "", empty + " @ 0.0"}}},
        {{}, {{0, "", empty + " @ 0.0"}}},
    };
    HuffmanTable table;
    for (const auto& [lengths, reads] : cases) {
        table.build(lengths);
        for (const auto& [skip, bits, result] : reads) EXPECT_EQ(decodeBits(table, bits, skip), result) << bits;
    }
}

}  // namespace
}  // namespace korvane::test
