// The fallbacks: the input is read rather than mapped, and memory comes from
// the C heap, whose own failure says when it runs out.

#include <cstdlib>

#include "platform.hpp"

namespace korvane::platform {

std::span<const uint8_t> mapInput(const std::string&) { return {}; }
void unmapInput() {}
bool inputChanged() { return false; }

uint64_t memoryRoom() { return UINT64_MAX; }

void* allocatePages(size_t size) noexcept { return std::malloc(size); }
void* resizePages(void* data, size_t, size_t newSize) noexcept { return std::realloc(data, newSize); }
void releasePages(void* data, size_t) noexcept { std::free(data); }
void populatePages(void*, size_t) noexcept {}

}  // namespace korvane::platform
