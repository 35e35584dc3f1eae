#include <gtest/gtest.h>

#include "huffman_table.hpp"

namespace korvane {
namespace {

TEST(HuffmanTable, RfcExampleSlots) {
    HuffmanTable table;
    const std::vector<int32_t> lengths = {3, 3, 3, 3, 3, 2, 4, 4};
    table.build(lengths);
    ASSERT_EQ(table.tableSize, 16);
    for (int slot : {0, 4, 8, 12}) {
        EXPECT_EQ(table.entries[static_cast<size_t>(slot)].symbol, 5);
        EXPECT_EQ(table.entries[static_cast<size_t>(slot)].length, 2);
    }
    EXPECT_EQ(table.entries[7].symbol, 6);
    EXPECT_EQ(table.entries[15].symbol, 7);
}

}  // namespace
}  // namespace korvane
