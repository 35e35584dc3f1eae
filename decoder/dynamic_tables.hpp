#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "bit_reader.hpp"
#include "huffman_table.hpp"

namespace korvane {

// Code lengths of one dynamic block, as read from its header: `litLenCount`
// literal/length lengths followed by `distCount` distance lengths. Room is
// fixed: at most 288 + 32 lengths, plus what a last run of up to 138 may
// carry past them before it is dropped.
struct DynamicLengths {
    static constexpr size_t CAPACITY = 288 + 32 + 138;
    std::array<int32_t, CAPACITY> lengths;
    size_t count = 0;
    int32_t litLenCount = 0;
    int32_t distCount = 0;

    // Appends `times` copies of `length`.
    void append(int32_t length, uint32_t times) {
        for (uint32_t i = 0; i < times; ++i) lengths[count++] = length;
    }
    [[nodiscard]] std::span<const int32_t> literal() const {
        return std::span<const int32_t>(lengths).first(static_cast<size_t>(litLenCount));
    }
    [[nodiscard]] std::span<const int32_t> distance() const {
        return std::span<const int32_t>(lengths).subspan(static_cast<size_t>(litLenCount),
                                                         static_cast<size_t>(distCount));
    }
};

// Reads a dynamic block's code description (RFC 1951, 3.2.7) and leaves the
// reader on the first bit of the block's first symbol. Nothing beyond what
// reading needs is checked: HLIT up to 288 and HDIST up to 32 are accepted, a
// 16 with no previous length repeats 0, a run may cross from literal/length
// into distance lengths and an overshooting last run is dropped.
void readDynamicLengths(BitReader& reader, DynamicLengths& result);

// readDynamicLengths, then both tables built from what it read.
void readDynamicTables(BitReader& reader, HuffmanTable& literalTable, HuffmanTable& distanceTable);

}  // namespace korvane
