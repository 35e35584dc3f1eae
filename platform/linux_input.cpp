// The input mapped from the page cache, kept readable when the file shrinks.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform.hpp"

namespace korvane::platform {

namespace {

// The mapping, in whole pages, and the file it maps (kept open to see its size).
uint8_t* mappingBegin = nullptr;
uint8_t* mappingEnd = nullptr;
size_t mappedSize = 0;
uintptr_t pageMask = 0;
int mappedFile = -1;
volatile sig_atomic_t pagesLost = 0;

// Pages of a mapped file past its end (after the file shrank), or that could
// not be read, raise SIGBUS on access. The handler puts zero pages in their
// place, from the faulting page to the mapping's end, notes it, and lets the
// access run again. A fault anywhere else gets the default action when it
// recurs.
void onBusError(int, siginfo_t* info, void*) {
    auto* const address = static_cast<uint8_t*>(info->si_addr);
    const auto at = reinterpret_cast<uintptr_t>(address);
    uint8_t* const page = address - (at & pageMask);
    if (at < reinterpret_cast<uintptr_t>(mappingBegin) || at >= reinterpret_cast<uintptr_t>(mappingEnd) ||
        mmap(page, static_cast<size_t>(mappingEnd - page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
            MAP_FAILED) {
        signal(SIGBUS, SIG_DFL);
        return;
    }
    pagesLost = 1;
}

}  // namespace

std::span<const uint8_t> mapInput(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat status {};
    void* mapping = MAP_FAILED;
    // Pages made present up front: one call instead of a fault per page.
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        mapping = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapping == MAP_FAILED) {
        ::close(fd);
        return {};
    }
    mappedFile = fd;
    mappedSize = static_cast<size_t>(status.st_size);
    pageMask = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
    mappingBegin = static_cast<uint8_t*>(mapping);
    mappingEnd = mappingBegin + ((mappedSize + pageMask) & ~pageMask);
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
    return {mappingBegin, mappedSize};
}

void unmapInput() {
    signal(SIGBUS, SIG_DFL);
    munmap(mappingBegin, mappedSize);
    ::close(mappedFile);
    mappingBegin = mappingEnd = nullptr;
    mappedFile = -1;
}

// The file's size is asked again too: a file cut inside its last mapped page
// raises no fault, the lost part of that page reading as zeros.
bool inputChanged() {
    struct stat status {};
    return pagesLost != 0 ||
           (mappedFile >= 0 && (fstat(mappedFile, &status) != 0 || static_cast<uint64_t>(status.st_size) < mappedSize));
}

}  // namespace korvane::platform
