// Decoder on arbitrary bytes, checked against system zlib: whenever zlib's raw
// inflate decodes the stream to its end, Korvane must give the same bytes and
// the same consumed count. Where zlib rejects a stream Korvane may accept it
// (its rules for malformed codes are more lenient); it must never crash.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zlib_decompress.hpp"

namespace {

bool headerAccepted(const uint8_t* data, size_t size) {
    return size >= 6 && (data[0] & 0x0F) == 8 && (data[0] * 256U + data[1]) % 31 == 0 && (data[1] & 0x20) == 0;
}

// Raw inflate of data[2..]; true with the output and bytes used when zlib reaches the end.
bool zlibInflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out, size_t& used) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data + 2);
    z.avail_in = static_cast<uInt>(size - 2);
    int status = Z_OK;
    while (status == Z_OK) {
        uint8_t chunk[1 << 15];
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (status == Z_BUF_ERROR && z.avail_out != 0) break;  // input ran out
    }
    used = z.total_in;
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool decoded = false;
    korvane::ByteBuffer result;
    size_t consumed = 0;
    try {
        result = korvane::zlibDecompress(data, size, consumed);
        decoded = true;
    } catch (const korvane::DecodeError&) {}

    if (!headerAccepted(data, size)) {
        if (decoded) std::abort();
        return 0;
    }
    std::vector<uint8_t> expected;
    size_t used = 0;
    if (!zlibInflate(data, size, expected, used)) return 0;
    if (!decoded || consumed != used + 6 || result.size() != expected.size() ||
        (!expected.empty() && std::memcmp(result.data(), expected.data(), expected.size()) != 0))
        std::abort();
    return 0;
}
