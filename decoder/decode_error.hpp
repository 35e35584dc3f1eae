#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>

namespace korvane {

// The decoder's only failure channel: one of the fixed messages below.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* DATA_TOO_SMALL = "Data too small for zlib";
inline constexpr const char* UNSUPPORTED_METHOD = "Unsupported compression method";
inline constexpr const char* BAD_HEADER_CHECKSUM = "Invalid zlib header checksum";
inline constexpr const char* PRESET_DICTIONARY = "Preset dictionary not supported";
inline constexpr const char* UNEXPECTED_END = "Unexpected end of data";
inline constexpr const char* INVALID_STORED_BLOCK = "Invalid stored block";
inline constexpr const char* INVALID_BLOCK_TYPE = "Invalid block type";
inline constexpr const char* EMPTY_HUFFMAN_TREE = "Empty Huffman tree";
inline constexpr const char* INVALID_HUFFMAN_CODE = "Invalid Huffman code";
inline constexpr const char* INVALID_LENGTH_CODE = "Invalid length code";
inline constexpr const char* INVALID_DISTANCE_CODE = "Invalid distance code";
inline constexpr const char* INVALID_DISTANCE = "Invalid distance";

// The output could not grow: memory ran out, or growing would pass what the
// machine can hold. An allocation failure that says how far decoding got.
class OutputTooLarge : public std::bad_alloc {
public:
    explicit OutputTooLarge(uint64_t decoded) noexcept;
    [[nodiscard]] const char* what() const noexcept override { return message_; }

private:
    char message_[64];  // filled without allocating: memory has just run out
};

// Out of line so that the hot inline readers stay small.
[[noreturn]] void throwDecodeError(const char* message);

}  // namespace korvane
