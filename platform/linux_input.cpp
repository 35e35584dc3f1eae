// The input mapped from the page cache, kept readable when the file shrinks.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform.hpp"

namespace korvane::platform {

namespace {

// The mapping and the file it maps, kept open to see its size. From
// zerosFrom on, the mapping's pages are zero pages standing in for lost ones.
uint8_t* mappingBegin = nullptr;
uint8_t* mappingEnd = nullptr;
uint8_t* volatile zerosFrom = nullptr;
size_t mappedSize = 0;
size_t pageMask = 0;
int mappedFile = -1;

// Pages of a mapped file past its end, after the file shrank, raise SIGBUS on
// access. The handler puts zero pages in their place, from the file's new end
// to the mapping's end, and lets the access run again. It goes by the file's
// size, not by the fault's address, which s390x gives only to the page and
// qemu-s390x garbles. A fault it cannot repair so (the file did not shrink
// since the last repair, or the fault lies elsewhere) gets the default action
// when it recurs.
void onBusError(int) {
    struct stat status {};
    if (fstat(mappedFile, &status) == 0 && static_cast<uint64_t>(status.st_size) < mappedSize) {
        uint8_t* const lost = mappingBegin + ((static_cast<size_t>(status.st_size) + pageMask) & ~pageMask);
        if (lost < zerosFrom && mmap(lost, static_cast<size_t>(zerosFrom - lost), PROT_READ,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            zerosFrom = lost;
            return;
        }
    }
    signal(SIGBUS, SIG_DFL);
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
    pageMask = static_cast<size_t>(sysconf(_SC_PAGESIZE)) - 1;
    mappingBegin = static_cast<uint8_t*>(mapping);
    mappingEnd = mappingBegin + ((mappedSize + pageMask) & ~pageMask);
    zerosFrom = mappingEnd;
    signal(SIGBUS, onBusError);
    return {mappingBegin, mappedSize};
}

void unmapInput() {
    signal(SIGBUS, SIG_DFL);
    munmap(mappingBegin, mappedSize);
    ::close(mappedFile);
    mappingBegin = mappingEnd = nullptr;
    zerosFrom = nullptr;
    mappedFile = -1;
}

// The file's size is asked again too: a file cut inside its last page raises
// no fault, the lost part of that page reading as zeros.
bool inputChanged() {
    struct stat status {};
    return zerosFrom < mappingEnd ||
           (mappedFile >= 0 && (fstat(mappedFile, &status) != 0 || static_cast<uint64_t>(status.st_size) < mappedSize));
}

}  // namespace korvane::platform
