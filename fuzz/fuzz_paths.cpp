// Both variants of the fast decoding path against the bit-at-a-time one on
// arbitrary bytes: the same bytes and consumed count, or the same error. The
// stream is also decoded onto a buffer that already holds bytes, which copies
// must not reach.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testing.hpp"

namespace {

struct Outcome {
    korvane::ByteBuffer bytes;
    size_t consumed = 0;
    std::string error;
};

Outcome decode(const uint8_t* data, size_t size, korvane::DecodePath path, size_t prefix) {
    Outcome outcome;
    for (size_t i = 0; i < prefix; ++i) outcome.bytes.push_back(static_cast<uint8_t>(i));
    try {
        outcome.consumed = korvane::testing::zlibDecompressAppend(data, size, outcome.bytes, path);
    } catch (const korvane::DecodeError& error) {
        outcome.error = error.what();
    }
    return outcome;
}

bool same(const Outcome& a, const Outcome& b) {
    return a.error == b.error && a.consumed == b.consumed && a.bytes.size() == b.bytes.size() &&
           (a.bytes.empty() || std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how much output precedes the stream.
    if (size == 0) return 0;
    const size_t prefix = data[0] % 4 == 0 ? 0 : data[0];
    const Outcome fast = decode(data + 1, size - 1, korvane::DecodePath::Fast, prefix);
    const Outcome portable = decode(data + 1, size - 1, korvane::DecodePath::FastPortable, prefix);
    const Outcome literal = decode(data + 1, size - 1, korvane::DecodePath::Reference, prefix);
    if (!same(fast, literal) || !same(portable, literal)) std::abort();

    size_t consumed = 0;
    try {
        const korvane::ByteBuffer alone = korvane::zlibDecompress(data + 1, size - 1, consumed);
        if (!fast.error.empty() || consumed != fast.consumed || alone.size() != fast.bytes.size() - prefix ||
            (!alone.empty() && std::memcmp(alone.data(), fast.bytes.data() + prefix, alone.size()) != 0))
            std::abort();
    } catch (const korvane::DecodeError& error) {
        if (fast.error != error.what()) std::abort();
    }
    return 0;
}
