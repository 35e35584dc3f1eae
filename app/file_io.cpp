#include "file_io.hpp"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <stdexcept>

namespace korvane {

bool readFile(const std::string& path, ByteBuffer& out) {
    std::ifstream file(path, std::ios::in | std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        std::cerr << "Could not open file: " << path << std::endl;
        return false;
    }
    auto fail = [&path] {
        std::cerr << "Error reading file: " << path << std::endl;
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
        std::cerr << "Not enough memory to read file: " << path << " (" << size << " bytes)" << std::endl;
        return false;
    }
    file.read(reinterpret_cast<char*>(out.data()), size);
    if (file.fail()) return fail();
    return true;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t length) {
    std::ofstream file(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
        std::cerr << "Could not create file: " << path << std::endl;
        return false;
    }
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    // Only once the file is closed have all the bytes reached the system (libc++
    // keeps them in a buffer until then): a full disk shows in the state after it.
    file.close();
    return !file.fail();
}

}  // namespace korvane
