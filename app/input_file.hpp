#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "byte_buffer.hpp"

namespace korvane {

// The whole input file: mapped where the platform layer can, else read
// (readFile).
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

    // True once bytes of a mapped file were lost (platform::inputChanged):
    // zeros stood in for them, so nothing decoded since can be trusted. A
    // read copy never changes.
    [[nodiscard]] static bool changed();

private:
    ByteBuffer copy_;
    std::span<const uint8_t> mapped_;  // empty when the file was read into copy_
};

}  // namespace korvane
