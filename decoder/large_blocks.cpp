#include "large_blocks.hpp"

#include <chrono>
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

constexpr size_t HUGE_PAGE = READY_STEP;
// Free memory is counted in the kernel's blocks of 2^order pages; a huge page
// takes one block of this order or half of the next.
constexpr int HUGE_PAGE_ORDER = 9;
constexpr int MAX_ORDER = 10;

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

// Huge pages the kernel has free right now, in whole blocks, without having
// to compact memory to make them.
size_t freeHugePages() {
    size_t pages = 0;
    const std::string info = readSmallFile("/proc/buddyinfo");
    // "Node 0, zone   Normal   c0 c1 ... c10": free blocks of each order.
    for (size_t at = 0; at < info.size();) {
        const size_t end = std::min(info.find('\n', at), info.size());
        const size_t zone = info.find("zone", at);
        if (zone < end) {
            const char* p = info.c_str() + zone + 4;
            while (*p == ' ') ++p;
            while (*p != ' ' && *p != '\0') ++p;  // the zone's name
            for (int order = 0; order <= MAX_ORDER; ++order) {
                char* next = nullptr;
                const unsigned long count = std::strtoul(p, &next, 10);
                if (next == p) break;
                p = next;
                if (order >= HUGE_PAGE_ORDER) pages += count << (order - HUGE_PAGE_ORDER);
            }
        }
        at = end + 1;
    }
    return pages;
}

// Huge pages save most of the cost of fresh memory, but not always. Where the
// kernel has no free block to give at once, it compacts memory first; where a
// hypervisor has taken back the memory behind free blocks, it must back a
// huge page again before the kernel can clear it, which costs several times
// what ordinary pages do, and then the rest of the free blocks are likely in
// the same state. So huge pages are asked for only while enough blocks are
// free, and no more once making one ready has taken longer than this.
constexpr auto SLOW_HUGE_PAGE = std::chrono::microseconds(2000);
bool hugePagesPay = true;

void adviseHugePages(void* data, size_t size) {
    if (hugePagesPay && freeHugePages() >= size / HUGE_PAGE) ::madvise(data, size, MADV_HUGEPAGE);
}

size_t roundUp(size_t size) { return (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1); }

// Reserves `size` bytes (a multiple of HUGE_PAGE) at an address aligned to
// HUGE_PAGE, so that the block can be made of whole huge pages.
void* mapAligned(size_t size) {
    void* raw = ::mmap(nullptr, size + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    // Trim the unaligned head and the tail that is left over.
    const size_t head = (HUGE_PAGE - reinterpret_cast<uintptr_t>(raw) % HUGE_PAGE) % HUGE_PAGE;
    auto* const start = static_cast<uint8_t*>(raw) + head;
    if (head > 0) ::munmap(raw, head);
    if (head < HUGE_PAGE) ::munmap(start + size, HUGE_PAGE - head);
    return start;
}

bool fits(size_t size, size_t replaced) {
    return size <= limit() && held - replaced <= limit() - size && size < SIZE_MAX - HUGE_PAGE;
}

}  // namespace

Block allocate(size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, 0)) return {};
    void* data = mapAligned(size);
    if (data == nullptr) return {};
    adviseHugePages(data, size);
    held += size;
    return {data, size};
}

Block resize(Block block, size_t size) noexcept {
    size = roundUp(size);
    if (size == 0 || !fits(size, block.size)) return {};
    // In place when the addresses after the block are free; otherwise the
    // pages move to a new aligned place, which costs no copy.
    void* data = ::mremap(block.data, block.size, size, 0);
    if (data == MAP_FAILED) {
        data = mapAligned(size);
        if (data == nullptr) return {};
        if (::mremap(block.data, block.size, size, MREMAP_MAYMOVE | MREMAP_FIXED, data) == MAP_FAILED) {
            // Pages that cannot move (parts of the block mapped differently) are copied.
            std::memcpy(data, block.data, block.size);
            ::munmap(block.data, block.size);
        }
    }
    adviseHugePages(data, size);
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
    for (size_t at = from & ~(HUGE_PAGE - 1); at < to; at += HUGE_PAGE) {
        const auto started = std::chrono::steady_clock::now();
        ::madvise(bytes + at, HUGE_PAGE, MADV_POPULATE_WRITE);
        if (hugePagesPay && std::chrono::steady_clock::now() - started > SLOW_HUGE_PAGE) {
            hugePagesPay = false;
            // The whole block: mremap cannot move a block whose parts differ.
            ::madvise(block.data, block.size, MADV_NOHUGEPAGE);
        }
    }
}

size_t ceiling(Block block) noexcept {
    const size_t others = held - block.size;
    return limit() > others ? (limit() - others) & ~(HUGE_PAGE - 1) : 0;
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
