#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "byte_buffer.hpp"

namespace korvane {

// A Tessel block: a 32-byte header holding "CompressionFile" at offset 4,
// then one zlib stream. Nothing else in the header is read.
inline constexpr uint64_t BLOCK_HEADER_SIZE = 32;
inline constexpr uint64_t MAGIC_OFFSET = 4;
inline constexpr char MAGIC[] = "CompressionFile";
inline constexpr size_t MAGIC_SIZE = sizeof(MAGIC) - 1;

inline constexpr uint8_t PNG_SIGNATURE[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

struct PngLocation {
    int64_t offset = 0;
    uint64_t size = 0;
};

// Decodes every block in order and returns their joined output, printing a
// line per block and the totals on standard output. On a missing first magic
// or a decoding failure prints the error on standard error and returns nothing.
std::optional<ByteBuffer> scanContainer(const ByteBuffer& fileData);

// Finds the first PNG signature in `joined` and prints where it is and how
// much follows; prints the error and returns nothing when there is none.
std::optional<PngLocation> findPngSignature(const ByteBuffer& joined);

}  // namespace korvane
