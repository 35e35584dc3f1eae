// ByteBuffer growth: through the switch to large blocks and beyond, keeping
// every byte, whatever the kernel has done with its pages.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "byte_buffer.hpp"
#include "large_blocks.hpp"

#ifdef KORVANE_LINUX_PLATFORM
#include <sys/mman.h>
#endif

namespace korvane {
namespace {

// Appends of every size class, from single bytes to runs of megabytes.
TEST(ByteBuffer, KeepsItsBytesWhileItGrows) {
    std::mt19937 random(3);
    std::vector<uint8_t> expected;
    ByteBuffer buffer;
    std::vector<uint8_t> chunk;
    while (expected.size() < (size_t{40} << 20)) {
        chunk.resize(size_t{1} << (random() % 23));
        std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(random()));
        chunk.front() = static_cast<uint8_t>(expected.size());
        chunk.size() == 1 ? buffer.push_back(chunk[0]) : buffer.append(chunk.data(), chunk.size());
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        ASSERT_GE(buffer.capacity(), buffer.size());
    }
    ASSERT_EQ(buffer.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
}

// A block's ceiling leaves out what the other large blocks hold.
TEST(LargeBlocks, CeilingLeavesOutTheOtherBlocks) {
    const large_blocks::Block block = large_blocks::allocate(large_blocks::THRESHOLD);
    const size_t alone = large_blocks::ceiling(block);
    const large_blocks::Block other = large_blocks::allocate(large_blocks::THRESHOLD);
    EXPECT_EQ(large_blocks::ceiling(block), alone - other.size);
    for (const large_blocks::Block held : {other, block}) large_blocks::release(held);
}

#ifdef KORVANE_LINUX_PLATFORM
// Parts of one buffer mapped with different settings cannot be moved
// together; the buffer still grows, by copying.
TEST(ByteBuffer, GrowsWhenItsPagesAreMappedDifferently) {
    constexpr size_t MB = size_t{1} << 20;
    ByteBuffer buffer;
    buffer.resizeUninitialized(8 * MB);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7 >> 3);
    ASSERT_EQ(::madvise(buffer.data() + 4 * MB, 2 * MB, MADV_NOHUGEPAGE), 0);
    buffer.resizeUninitialized(64 * MB);
    for (size_t i = 0; i < 8 * MB; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i * 7 >> 3)) << i;
}

// Released blocks no longer count against the memory limit: the largest
// block it allows can be had again and again.
TEST(LargeBlocks, ReleasedBlocksNoLongerCount) {
    size_t size = large_blocks::THRESHOLD;
    for (large_blocks::Block probe; (probe = large_blocks::allocate(2 * size)).data != nullptr; size *= 2)
        large_blocks::release(probe);
    for (int round = 0; round < 3; ++round) {
        const large_blocks::Block block = large_blocks::allocate(size);
        ASSERT_NE(block.data, nullptr) << "round " << round << ", " << size << " bytes";
        large_blocks::release(block);
    }
}
#endif

}  // namespace
}  // namespace korvane
