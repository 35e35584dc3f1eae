// The decoder on arbitrary bytes against system zlib: where zlib's raw inflate
// decodes the stream to its end, Korvane gives the same bytes and consumed
// count. It may accept what zlib rejects (it is more lenient with malformed
// codes), but never a zlib header that zlib would refuse, and never crashes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "tessel_writer.hpp"
#include "zlib_decompress.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<korvane::ByteBuffer> result;
    size_t consumed = 0;
    try {
        result = korvane::zlibDecompress(data, size, consumed);
    } catch (const korvane::DecodeError&) {}

    const bool headerAccepted =
        size >= 6 && (data[0] & 0x0F) == 8 && (data[0] * 256U + data[1]) % 31 == 0 && (data[1] & 0x20) == 0;
    if (!headerAccepted) {
        if (result) std::abort();
        return 0;
    }
    const std::optional<tessel::Inflated> expected = tessel::zlibInflate({data + 2, size - 2}, true);
    if (expected && (!result || consumed != expected->used + 6 || result->size() != expected->bytes.size() ||
                     (!result->empty() && std::memcmp(result->data(), expected->bytes.data(), result->size()) != 0)))
        std::abort();
    return 0;
}
