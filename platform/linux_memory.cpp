// Memory straight from the kernel, and how much of it this process can have.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform.hpp"

namespace korvane::platform {

namespace {

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

void* map(size_t size) {
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return data == MAP_FAILED ? nullptr : data;
}

}  // namespace

uint64_t memoryRoom() {
    uint64_t room = std::min(availableMemory(), cgroupRoom());
    rlimit addressSpace{};
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        room = std::min<uint64_t>(room, addressSpace.rlim_cur);
    return room;
}

// Address space first: pages come when they are written or populated.
void* allocatePages(size_t size) noexcept { return map(size); }

void* resizePages(void* data, size_t size, size_t newSize) noexcept {
    // The pages move rather than being copied, in place when the addresses
    // after them are free.
    void* moved = ::mremap(data, size, newSize, MREMAP_MAYMOVE);
    if (moved != MAP_FAILED) return moved;
    // Pages that cannot move together (parts mapped differently) are copied.
    moved = map(newSize);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, data, size);
    ::munmap(data, size);
    return moved;
}

void releasePages(void* data, size_t size) noexcept { ::munmap(data, size); }

void populatePages(void* data, size_t size) noexcept { ::madvise(data, size, MADV_POPULATE_WRITE); }

}  // namespace korvane::platform
