#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"

namespace korvane {

// A Tessel block: a 32-byte header holding "CompressionFile" at offset 4,
// then one zlib stream. Nothing else in the header is read.
inline constexpr uint64_t BLOCK_HEADER_SIZE = 32;
inline constexpr uint64_t MAGIC_OFFSET = 4;
inline constexpr char MAGIC[] = "CompressionFile";
inline constexpr size_t MAGIC_SIZE = sizeof(MAGIC) - 1;

// Decodes every block in order and returns their joined output, printing a
// line per block and the totals on standard output. On a missing first magic
// or a decoding failure prints the error on standard error and returns nothing.
// A watcher, if given, is shown the joined output as it grows.
std::optional<ByteBuffer> scanContainer(const ByteBuffer& fileData, OutputWatcher* watcher = nullptr);

}  // namespace korvane
