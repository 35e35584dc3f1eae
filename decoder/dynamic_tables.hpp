#pragma once

#include <cstdint>
#include <vector>

#include "bit_reader.hpp"
#include "huffman_table.hpp"

namespace korvane {

// Code lengths of one dynamic block, as read from its header: `litLenCount`
// literal/length lengths followed by the distance lengths.
struct DynamicLengths {
    std::vector<int32_t> lengths;
    int32_t litLenCount = 0;
    int32_t distCount = 0;
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
