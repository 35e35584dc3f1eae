#include "decode_error.hpp"

#include <cstdio>

namespace korvane {

OutputTooLarge::OutputTooLarge(uint64_t decoded) noexcept {
    std::snprintf(message_, sizeof message_, "out of memory after %llu decoded bytes",
                  static_cast<unsigned long long>(decoded));
}

void throwDecodeError(const char* message) { throw DecodeError(message); }

}  // namespace korvane
