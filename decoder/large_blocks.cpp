#include "large_blocks.hpp"

#include <cstdint>
#include <cstdlib>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#endif

namespace korvane::large_blocks {

#ifdef __linux__

namespace {

size_t held = 0;  // bytes in large blocks now

// Reads a small text file whole; empty when it cannot be read.
std::string readSmallFile(const char* path) {
    std::string text;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(got));
    ::close(fd);
    return text;
}

// The number at the start of `text`, or `otherwise` ("max" and unreadable files).
uint64_t leadingNumber(const std::string& text, uint64_t otherwise) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return otherwise;
    return std::strtoull(text.c_str(), nullptr, 10);
}

// The least room left under the memory limits of this process's cgroup and
// the groups above it: each one's limit less what it uses now.
uint64_t cgroupRoom() {
    uint64_t room = UINT64_MAX;
    const std::string groups = readSmallFile("/proc/self/cgroup");
    for (size_t at = 0; at < groups.size();) {
        const size_t end = std::min(groups.find('\n', at), groups.size());
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        // "0::/path" in the unified hierarchy, "N:memory:/path" in the old one.
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const bool unified = controllers.empty();
        if (!unified && ("," + controllers + ",").find(",memory,") == std::string::npos) continue;
        for (std::string path = line.substr(second + 1);; path.erase(path.rfind('/'))) {
            std::string group = unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
            group.append(path);
            const uint64_t limit = leadingNumber(
                readSmallFile((group + (unified ? "/memory.max" : "/memory.limit_in_bytes")).c_str()), UINT64_MAX);
            const uint64_t used = leadingNumber(
                readSmallFile((group + (unified ? "/memory.current" : "/memory.usage_in_bytes")).c_str()), 0);
            if (limit != UINT64_MAX) room = std::min(room, limit > used ? limit - used : 0);
            if (path.empty() || path == "/") break;
        }
    }
    return room;
}

// Memory the kernel could give this process now without swapping anything
// out, plus free swap (the "MemAvailable:" and "SwapFree:" lines, in kB).
uint64_t availableMemory() {
    const std::string info = readSmallFile("/proc/meminfo");
    uint64_t total = 0;
    for (const char* key : {"MemAvailable:", "SwapFree:"}) {
        const size_t at = info.find(key);
        if (at == std::string::npos) return UINT64_MAX;
        total += std::strtoull(info.c_str() + at + std::strlen(key), nullptr, 10) << 10;
    }
    return total;
}

// Large blocks may take this share of the room; the rest is left for
// everything else the process and the kernel need for it (small buffers, page
// tables, the program itself).
constexpr uint64_t ROOM_SHARE_EIGHTHS = 7;

uint64_t machineLimit() {
    uint64_t limit = availableMemory();
    rlimit addressSpace{};
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        limit = std::min<uint64_t>(limit, addressSpace.rlim_cur);
    limit = std::min(limit, cgroupRoom());
    return std::min(limit / 8 * ROOM_SHARE_EIGHTHS, uint64_t{SIZE_MAX});
}

// Read once, when the first large block is asked for.
size_t limit() {
    static const auto value = static_cast<size_t>(machineLimit());
    return value;
}

size_t roundUp(size_t size) { return (size + READY_STEP - 1) & ~(READY_STEP - 1); }

bool fits(size_t size, size_t replaced) {
    return size <= limit() && held - replaced <= limit() - size && size < SIZE_MAX - READY_STEP;
}

void* map(size_t size) {
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return data == MAP_FAILED ? nullptr : data;
}

}  // namespace

Block allocate(size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, 0)) return {};
    void* data = map(size);
    if (data == nullptr) return {};
    held += size;
    return {data, size};
}

Block resize(Block block, size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, block.size)) return {};
    // The pages move rather than being copied, in place when the addresses
    // after the block are free.
    void* data = ::mremap(block.data, block.size, size, MREMAP_MAYMOVE);
    if (data == MAP_FAILED) {
        // Pages that cannot move together (parts of the block mapped
        // differently) are copied.
        data = map(size);
        if (data == nullptr) return {};
        std::memcpy(data, block.data, block.size);
        ::munmap(block.data, block.size);
    }
    held = held - block.size + size;
    return {data, size};
}

void release(Block block) noexcept {
    if (block.data == nullptr) return;
    ::munmap(block.data, block.size);
    held -= block.size;
}

void makeReady(Block block, size_t from, size_t to) noexcept {
    auto* const bytes = static_cast<uint8_t*>(block.data);
    for (size_t at = from & ~(READY_STEP - 1); at < to; at += READY_STEP)
        ::madvise(bytes + at, READY_STEP, MADV_POPULATE_WRITE);
}

size_t ceiling(Block block) noexcept {
    const size_t others = held - block.size;
    return limit() > others ? (limit() - others) & ~(READY_STEP - 1) : 0;
}

#else  // elsewhere: the C heap, which fails cleanly when memory runs out

Block allocate(size_t size) noexcept { return {std::malloc(size), size}; }

Block resize(Block block, size_t size) noexcept {
    void* data = std::realloc(block.data, size);
    return data == nullptr ? Block{} : Block{data, size};
}

void release(Block block) noexcept { std::free(block.data); }

void makeReady(Block, size_t, size_t) noexcept {}

size_t ceiling(Block) noexcept { return SIZE_MAX; }

#endif

}  // namespace korvane::large_blocks
