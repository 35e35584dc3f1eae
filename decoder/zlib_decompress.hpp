#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_buffer.hpp"
#include "decode_error.hpp"
#include "output_watcher.hpp"

namespace korvane {

// Bytes a zlib stream adds around its DEFLATE data: 2 header bytes, 4 trailer bytes.
inline constexpr size_t ZLIB_HEADER_SIZE = 2;
inline constexpr size_t ZLIB_FRAME_SIZE = 6;

// Decodes the zlib stream (RFC 1950) at the start of data[0, size). The stream
// may end before `size`. On success returns the decoded bytes and sets
// `consumed` to the bytes the stream used: header, compressed data (a partly
// used last byte counts) and a 4-byte trailer, counted even when the span ends
// before it. The trailer is not read. Throws DecodeError on bad data and
// OutputTooLarge when the output cannot grow.
ByteBuffer zlibDecompress(const uint8_t* data, size_t size, size_t& consumed);

// As zlibDecompress, but appends the decoded bytes to `out` and returns the
// consumed count. On failure `out` is cut back to its old length. A watcher,
// if given, is shown the new bytes after each DEFLATE block, and told of a cut.
size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, OutputWatcher* watcher = nullptr);

// What is wrong with the zlib header at data[0, size), if anything: the
// message of the error decoding would fail with there, or nullptr.
const char* zlibHeaderError(const uint8_t* data, size_t size);

class StreamDecoder;
// zlibDecompressAppend with a decoder of the caller's.
size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, StreamDecoder& decoder);

}  // namespace korvane
