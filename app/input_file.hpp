#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "byte_buffer.hpp"

namespace korvane {

// The whole input file. A non-empty regular file is mapped from the page
// cache where the system allows it, which saves allocating, clearing and
// copying a buffer as large as the file; anything else is read (readFile).
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Maps or reads the file; on failure prints why, as readFile does, and
    // returns false. At most one InputFile is open at a time.
    bool open(const std::string& path);

    [[nodiscard]] std::span<const uint8_t> bytes() const;

    // True once the file has shrunk under the mapping (or a page of it could
    // not be read): the lost bytes read as zeros, so nothing decoded since
    // can be trusted. A read copy never changes.
    [[nodiscard]] static bool changedWhileMapped();

private:
    ByteBuffer copy_;
    std::span<uint8_t> mapped_;  // empty when the file was read into copy_
};

}  // namespace korvane
