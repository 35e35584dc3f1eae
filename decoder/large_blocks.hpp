#pragma once

#include <cstddef>

// Memory for large buffers (the decoded output, an input file that is read
// rather than mapped), straight from the system (platform.hpp). On Linux a
// block is address space first: its pages are made ready a step at a time as
// the buffer fills, in one call per step rather than one fault per page. A
// block grows by moving its pages, not copying them. Together the blocks stay
// within what the machine can hold, where the system tells how much that is,
// so that a decompression bomb fails cleanly instead of waking the
// out-of-memory killer.
//
// Huge pages were measured and left out: on the virtual machines this runs
// on, the kernel's free huge-page blocks are mostly ones the hypervisor has
// taken back, and backing one again costs more than its huge page saves.
namespace korvane::large_blocks {

// Buffers from this size on use large blocks.
inline constexpr size_t THRESHOLD = size_t{4} << 20;

struct Block {
    void* data = nullptr;  // nullptr: the system refused, or the limit would be passed
    size_t size = 0;       // at least what was asked for
};

Block allocate(size_t size) noexcept;
// Resizes `block` to at least `size` bytes keeping its contents; on failure
// returns an empty Block and `block` is unchanged.
Block resize(Block block, size_t size) noexcept;
void release(Block block) noexcept;

// Pages are made ready in steps of this size; blocks are whole steps.
inline constexpr size_t READY_STEP = size_t{2} << 20;

// Makes block bytes [from, to) ready to be written without a fault each.
void makeReady(Block block, size_t from, size_t to) noexcept;

// The largest size `block` could grow to without passing the limit, less
// what the other large blocks hold. The limit is seven eighths of the least
// of: the memory the system had available and free swap when the first large
// block was made, the room then left under the cgroup's memory limits, and
// the address-space limit.
size_t ceiling(Block block) noexcept;

}  // namespace korvane::large_blocks
