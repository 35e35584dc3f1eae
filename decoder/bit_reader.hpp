#pragma once

#include <cstdint>

#include "decode_error.hpp"

namespace korvane {

// Reads a byte span one bit at a time, least significant bit of each byte first.
// It never looks past the byte it stands on, so a read at the end of the span
// fails cleanly instead of touching memory beyond it.
struct BitReader {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t bytePos = 0;
    int32_t bitPos = 0;  // 0..7: next bit of data[bytePos], from its low end
};

// Reads `count` bits (0 to 16) as a number whose first bit read is bit 0.
inline uint32_t readBits(BitReader& reader, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        if (reader.bytePos >= reader.size) throwDecodeError(UNEXPECTED_END);
        uint32_t bit = (static_cast<uint32_t>(reader.data[reader.bytePos]) >> reader.bitPos) & 1U;
        value |= bit << i;
        if (++reader.bitPos == 8) {
            reader.bitPos = 0;
            ++reader.bytePos;
        }
    }
    return value;
}

}  // namespace korvane
