#pragma once

#include <cstddef>
#include <cstdint>

// The file formats Korvane reads and looks for, in one place for the program,
// its tools, tests and benchmarks.
namespace korvane {

// A Tessel block: a 32-byte header holding "CompressionFile" at offset 4,
// then one zlib stream. Nothing else in the header is read.
inline constexpr uint64_t BLOCK_HEADER_SIZE = 32;
inline constexpr uint64_t MAGIC_OFFSET = 4;
inline constexpr char MAGIC[] = "CompressionFile";
inline constexpr size_t MAGIC_SIZE = sizeof(MAGIC) - 1;

// The eight bytes every PNG file starts with.
inline constexpr uint8_t PNG_SIGNATURE[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr size_t PNG_SIGNATURE_SIZE = sizeof(PNG_SIGNATURE);

}  // namespace korvane
