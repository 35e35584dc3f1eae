#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"
#include "tessel_format.hpp"

namespace korvane {

// Decodes every block in order and returns their joined output, printing a
// line per block and the totals on standard output. On a missing first magic
// or a decoding failure prints the error on standard error (nothing when the
// input lost bytes: InputFile::changed) and returns nothing.
// A watcher, if given, is shown the joined output as it grows.
std::optional<ByteBuffer> scanContainer(std::span<const uint8_t> fileData, OutputWatcher* watcher = nullptr);

}  // namespace korvane
