#include "file_io.hpp"

#include <cstdio>
#include <limits>
#include <new>

#include "console.hpp"
#include "platform.hpp"

namespace korvane {

namespace {

// Reads the first `size` bytes of `file` into `out`.
bool readWhole(std::FILE* file, uint64_t size, const std::string& path, ByteBuffer& out) {
    auto fail = [&path] {
        console::err("Error reading file: ", path);
        return false;
    };
    if (size > std::numeric_limits<size_t>::max()) return fail();
    // A directory can open like a file and report any size: 0 (procfs) reads
    // as an empty file; any other (2^63 - 1 on ext4) fails at its first byte,
    // as the whole read would, without first asking memory for that much.
    if (size > 0 && std::fgetc(file) == EOF) return fail();
    std::rewind(file);
    try {
        out.resizeUninitialized(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        console::err("Not enough memory to read file: ", path, " (", size, " bytes)");
        return false;
    }
    if (size > 0 && std::fread(out.data(), 1, out.size(), file) != out.size()) return fail();
    return true;
}

}  // namespace

bool readFile(const std::string& path, ByteBuffer& out) {
    std::FILE* const file = std::fopen(path.c_str(), "rb");
    // A file that cannot seek to its end (a pipe) counts as one that cannot be opened.
    const int64_t size = file != nullptr ? platform::fileSize(file) : -1;
    if (size < 0) {
        if (file != nullptr) std::fclose(file);
        console::err("Could not open file: ", path);
        return false;
    }
    const bool read = readWhole(file, static_cast<uint64_t>(size), path, out);
    std::fclose(file);
    return read;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t length) {
    std::FILE* const file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        console::err("Could not create file: ", path);
        return false;
    }
    // Unbuffered, so that the bytes reach the system in the write itself and
    // a full disk shows in its result, on every C library.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(data, 1, length, file) == length;
    std::fclose(file);
    return written;
}

}  // namespace korvane
