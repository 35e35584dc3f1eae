#include "file_io.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>

#include "console.hpp"

namespace korvane {

bool readFile(const std::string& path, ByteBuffer& out) {
    std::ifstream file(path, std::ios::in | std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        console::err("Could not open file: ", path);
        return false;
    }
    auto fail = [&path] {
        console::err("Error reading file: ", path);
        return false;
    };

    // A file that cannot seek to its end (a pipe) already failed to open. A
    // directory can open like a file on some systems and report any size:
    // 0 (procfs) reads as an empty file; any other (2^63 - 1 on ext4) fails as
    // the read would, without first asking memory for that much.
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > std::numeric_limits<size_t>::max()) return fail();
    std::error_code ignored;
    if (size > 0 && std::filesystem::is_directory(path, ignored)) return fail();
    file.seekg(0, std::ios::beg);
    try {
        out.resizeUninitialized(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        console::err("Not enough memory to read file: ", path, " (", size, " bytes)");
        return false;
    }
    file.read(reinterpret_cast<char*>(out.data()), size);
    if (file.fail()) return fail();
    return true;
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
