#include "decode_error.hpp"

namespace korvane {

void throwDecodeError(const char* message) { throw DecodeError(message); }

}  // namespace korvane
