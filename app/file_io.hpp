#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_buffer.hpp"

namespace korvane {

// Reads the whole file into `out`. On failure prints why on standard error
// ("Could not open file: ", "Error reading file: " or "Not enough memory to
// read file: " and the path) and returns false.
bool readFile(const std::string& path, ByteBuffer& out);

// Creates or truncates the file and writes the bytes. Prints
// "Could not create file: " and the path when the file cannot be opened; a
// failed write returns false without a message.
bool writeFile(const std::string& path, const uint8_t* data, size_t length);

}  // namespace korvane
