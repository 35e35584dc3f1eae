#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// The operating-system calls Korvane makes beyond the standard library. Linux
// has its own (linux_*.cpp); portable.cpp holds the fallbacks that every other
// system uses, and Linux too when configured with KORVANE_PORTABLE_PLATFORM,
// which defines KORVANE_LINUX_PLATFORM only for the former.
namespace korvane::platform {

// The whole input file mapped read-only from the page cache, which saves
// allocating, clearing and copying a buffer as large as the file. Empty where
// the file is not a non-empty regular file or cannot be mapped (the fallback
// maps nothing): the caller then reads it. One mapping at a time. Pages lost
// when the file shrinks (or cannot be read) read as zeros.
std::span<const uint8_t> mapInput(const std::string& path);
void unmapInput();
// The size of an open file, by seeking to its end, then back to its start;
// -1 where it cannot seek (a pipe).
int64_t fileSize(std::FILE* file);

// True once bytes of the mapped input were lost: the file is now shorter than
// when it was mapped, or a page of it could not be read. Either way zeros
// stood in for them, so nothing decoded from the input can be trusted.
bool inputChanged();

// What the system can give this process now, in bytes: the least of the
// memory available without swapping plus free swap, the room left under the
// control groups' memory limits, and the address-space limit. UINT64_MAX where
// unknown (the fallback, where allocations fail when memory runs out).
uint64_t memoryRoom();

// Memory straight from the system (the C heap in the fallback); null on
// failure. Resizing keeps the contents, moving pages rather than copying them
// where it can; on failure the old memory stays as it was.
void* allocatePages(size_t size) noexcept;
void* resizePages(void* data, size_t size, size_t newSize) noexcept;
void releasePages(void* data, size_t size) noexcept;
// Makes the pages of [data, data + size) ready to be written, in one call
// rather than one fault per page; only a hint.
void populatePages(void* data, size_t size) noexcept;

}  // namespace korvane::platform
