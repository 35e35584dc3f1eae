#include "input_file.hpp"

#include <csignal>

#include "file_io.hpp"

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvane {

#ifdef __linux__
namespace {

// The mapping the bus-error handler may repair, in whole pages.
uint8_t* mappingBegin = nullptr;
uint8_t* mappingEnd = nullptr;
uintptr_t pageMask = 0;
volatile sig_atomic_t mappingChanged = 0;

// Pages of a mapped file past its end (after the file shrank) raise SIGBUS
// on access. The handler puts zero pages in their place, from the faulting
// page to the mapping's end, notes it, and lets the access run again. A
// fault anywhere else gets the default action when it recurs.
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
    mappingChanged = 1;
}

// Maps a non-empty regular file read-only, its pages made present up front;
// empty where the file is anything else or cannot be mapped.
std::span<uint8_t> mapFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat status {};
    size_t size = 0;
    void* mapping = MAP_FAILED;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        size = static_cast<size_t>(status.st_size);
        mapping = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    }
    ::close(fd);
    return mapping == MAP_FAILED ? std::span<uint8_t>() : std::span(static_cast<uint8_t*>(mapping), size);
}

}  // namespace

bool InputFile::open(const std::string& path) {
    mapped_ = mapFile(path);
    if (mapped_.empty()) return readFile(path, copy_);
    pageMask = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
    mappingBegin = mapped_.data();
    mappingEnd = mappingBegin + ((mapped_.size() + pageMask) & ~pageMask);
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
    return true;
}

InputFile::~InputFile() {
    if (mapped_.empty()) return;
    signal(SIGBUS, SIG_DFL);
    munmap(mapped_.data(), mapped_.size());
    mappingBegin = mappingEnd = nullptr;
}

bool InputFile::changedWhileMapped() { return mappingChanged != 0; }

#else

bool InputFile::open(const std::string& path) { return readFile(path, copy_); }
InputFile::~InputFile() = default;
bool InputFile::changedWhileMapped() { return false; }

#endif

std::span<const uint8_t> InputFile::bytes() const {
    return mapped_.empty() ? std::span<const uint8_t>(copy_.data(), copy_.size()) : mapped_;
}

}  // namespace korvane
