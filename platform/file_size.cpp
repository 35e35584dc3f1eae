#include <cstdio>

#include "platform.hpp"

namespace korvane::platform {

int64_t fileSize(std::FILE* file) {
    // std::fseek takes a long, which has 32 bits on Windows: each C library's
    // 64-bit seek instead.
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = ftello(file);
#endif
    std::rewind(file);
    return size;
}

}  // namespace korvane::platform
