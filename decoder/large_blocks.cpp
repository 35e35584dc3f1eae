#include "large_blocks.hpp"

#include <algorithm>
#include <cstdint>

#include "platform.hpp"

namespace korvane::large_blocks {

namespace {

size_t held = 0;  // bytes in large blocks now

// Large blocks may take this share of the room; the rest is left for
// everything else the process and the kernel need for it (small buffers, page
// tables, the program itself).
constexpr uint64_t ROOM_SHARE_EIGHTHS = 7;

// Read once, when the first large block is asked for.
size_t limit() {
    static const auto value =
        static_cast<size_t>(std::min(platform::memoryRoom() / 8 * ROOM_SHARE_EIGHTHS, uint64_t{SIZE_MAX}));
    return value;
}

size_t roundUp(size_t size) { return (size + READY_STEP - 1) & ~(READY_STEP - 1); }

bool fits(size_t size, size_t replaced) {
    return size <= limit() && held - replaced <= limit() - size && size < SIZE_MAX - READY_STEP;
}

}  // namespace

Block allocate(size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, 0)) return {};
    void* data = platform::allocatePages(size);
    if (data == nullptr) return {};
    held += size;
    return {data, size};
}

Block resize(Block block, size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, block.size)) return {};
    void* data = platform::resizePages(block.data, block.size, size);
    if (data == nullptr) return {};
    held = held - block.size + size;
    return {data, size};
}

void release(Block block) noexcept {
    if (block.data == nullptr) return;
    platform::releasePages(block.data, block.size);
    held -= block.size;
}

void makeReady(Block block, size_t from, size_t to) noexcept {
    auto* const bytes = static_cast<uint8_t*>(block.data);
    for (size_t at = from & ~(READY_STEP - 1); at < to; at += READY_STEP)
        platform::populatePages(bytes + at, READY_STEP);
}

size_t ceiling(Block block) noexcept {
    const size_t others = held - block.size;
    return limit() > others ? (limit() - others) & ~(READY_STEP - 1) : 0;
}

}  // namespace korvane::large_blocks
