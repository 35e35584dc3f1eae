// Both variants of the fast path against the bit-at-a-time one on arbitrary
// bytes: the same bytes and consumed count, or the same error; also after
// earlier output, which copies must not reach and a failure leaves as it was.
// Then the bytes as streams end to end, walked with each next stream guessed
// (right, or a few bytes off) and decoded ahead, against the walk without.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "testing.hpp"

namespace {

using Outcome = std::tuple<std::vector<uint8_t>, size_t, std::string>;  // bytes, consumed count, error

Outcome decode(const uint8_t* data, size_t size, korvane::DecodePath path, size_t prefix) {
    korvane::ByteBuffer out;
    for (size_t i = 0; i < prefix; ++i) out.push_back(static_cast<uint8_t>(i));
    size_t consumed = 0;
    std::string error;
    try {
        consumed = korvane::testing::zlibDecompressAppend(data, size, out, path);
    } catch (const korvane::DecodeError& e) {
        error = e.what();
        if (out.size() != prefix) std::abort();  // a failed stream leaves what was there before
    }
    return {std::vector<uint8_t>(out.begin() + prefix, out.end()), consumed, error};
}

// The streams' joined bytes and the error that ended the walk; `starts` gets
// where each stream began, or is where to guess them, `shift` bytes off.
std::pair<std::vector<uint8_t>, std::string> walk(const uint8_t* data, size_t size, std::vector<size_t>& starts,
                                                  bool guess, size_t shift) {
    korvane::ByteBuffer out;
    korvane::StreamSequence sequence(out, nullptr);
    korvane::DecoderTesting::setPath(sequence, korvane::DecodePath::Fast);
    std::string error;
    try {
        for (size_t offset = 0, i = 0; offset < size; ++i) {
            if (!guess) starts.push_back(offset);
            const size_t at = guess && i + 1 < starts.size() ? starts[i + 1] + shift : 0;
            offset +=
                sequence.decodeAppend(data + offset, size - offset,
                                      at > offset && at < size ? korvane::StreamSequence::Next{data + at, size - at}
                                                               : korvane::StreamSequence::Next{});
        }
    } catch (const korvane::DecodeError& e) {
        error = e.what();
    }
    return {std::vector<uint8_t>(out.begin(), out.end()), error};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how much output precedes the stream.
    if (size == 0) return 0;
    const size_t prefix = data[0] % 4 == 0 ? 0 : data[0];
    const Outcome alone = decode(data + 1, size - 1, korvane::DecodePath::Reference, 0);
    for (const korvane::DecodePath path :
         {korvane::DecodePath::Fast, korvane::DecodePath::FastPortable, korvane::DecodePath::Reference}) {
        if (path != korvane::DecodePath::Reference && decode(data + 1, size - 1, path, 0) != alone) std::abort();
        if (decode(data + 1, size - 1, path, prefix) != alone) std::abort();
    }
    std::vector<size_t> starts;
    if (walk(data + 1, size - 1, starts, false, 0) != walk(data + 1, size - 1, starts, true, data[0] % 4 - 1U))
        std::abort();
    return 0;
}
