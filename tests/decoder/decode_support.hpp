#pragma once

// Shared helpers of the decoder tests: a decode as one comparable result,
// suites run on every decode path, test data.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "deflate_writer.hpp"
#include "tessel_writer.hpp"
#include "testing.hpp"

namespace korvane::test {

using deflate_writer::Bytes;
using deflate_writer::operator+;

// The whole result of one decode: the bytes and the consumed count, or the error text.
struct Outcome {
    Bytes bytes;
    size_t consumed = 0;
    std::string error;
    bool operator==(const Outcome&) const = default;
};

inline Outcome ok(Bytes bytes, size_t consumed) { return {std::move(bytes), consumed, {}}; }
inline Outcome ok(const std::string& text, size_t consumed) { return {Bytes(text.begin(), text.end()), consumed, {}}; }
inline Outcome fails(const char* message) { return {{}, 0, message}; }

inline void PrintTo(const Outcome& o, std::ostream* os) {
    *os << (o.error.empty() ? "" : "error \"" + o.error + "\", ") << o.bytes.size() << " bytes, consumed " << o.consumed
        << ":";
    for (size_t i = 0; i < o.bytes.size() && i < 48; ++i) *os << ' ' << static_cast<int>(o.bytes[i]);
}

// A zlib stream, or with `raw` a bare DEFLATE stream, decoded onto `earlier`:
// the whole buffer afterwards (also after an error) and the consumed count, or the error.
inline Outcome inflateAppend(const Bytes& earlier, const Bytes& stream, DecodePath path,
                             OutputWatcher* watcher = nullptr, bool raw = false) {
    ByteBuffer out(earlier.data(), earlier.size());
    Outcome result;
    StreamDecoder decoder(watcher);
    DecoderTesting::setPath(decoder, path);
    try {
        result.consumed = raw ? (decoder.decodeAppend(stream.data(), stream.size(), out), decoder.bytesConsumed)
                              : zlibDecompressAppend(stream.data(), stream.size(), out, decoder);
    } catch (const DecodeError& e) {
        result.error = e.what();
    }
    result.bytes.assign(out.begin(), out.end());
    return result;
}
inline Outcome inflateZlib(const Bytes& stream, DecodePath path) { return inflateAppend({}, stream, path); }

// Checks a raw stream. A decode that did not run out of data read nothing past
// where it stopped, so bytes appended to the span change nothing; they also
// give the fast path enough input to work on short hand-made streams.
inline void expectRaw(const Bytes& stream, DecodePath path, const Outcome& expected) {
    EXPECT_EQ(inflateAppend({}, stream, path, nullptr, true), expected);
    if (expected.error == UNEXPECTED_END) return;
    for (int fill : {0x00, 0xFF})
        EXPECT_EQ(inflateAppend({}, stream + Bytes(64, static_cast<uint8_t>(fill)), path, nullptr, true), expected)
            << "with 64 bytes " << fill;
}

struct StreamCase {
    std::string name;
    Bytes stream;
    Outcome expected;
};

// A case that decodes to `output` and uses its stream to the last byte.
template <class Output>
StreamCase whole(std::string name, Bytes stream, const Output& output) {
    const size_t size = stream.size();
    return {std::move(name), std::move(stream), ok(output, size)};
}

inline Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Words from a small vocabulary: many short and medium matches.
inline Bytes textLike(size_t size, uint32_t seed) {
    static const std::string WORDS[] = {"the ",     "tessel ",  "block ", "header ", "stream ", "of ",    "a ",
                                        "Korvane ", "decodes ", "PNG ",   "image, ", "and\n",   "bytes. "};
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < size) out += WORDS[rng() % std::size(WORDS)];
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
}

// Lengths of a random complete prefix code of `used` of `count` symbols: the
// leaves of a random tree no deeper than 15 (a lone code has one bit).
inline std::vector<int32_t> randomCode(size_t count, size_t used, std::mt19937& random) {
    std::vector<int32_t> lengths = {0};
    while (lengths.size() < used) {
        const size_t pick = random() % lengths.size();
        if (lengths[pick] < 15) lengths.push_back(++lengths[pick]);
    }
    if (lengths.size() == 1) lengths[0] = 1;
    lengths.resize(count, 0);
    std::shuffle(lengths.begin(), lengths.end(), random);
    return lengths;
}

// Value-parameterised suites run on every decode path, which must agree.
using PathTest = ::testing::TestWithParam<DecodePath>;
inline const DecodePath ALL_PATHS[] = {DecodePath::Fast, DecodePath::FastPortable, DecodePath::Reference};
inline std::string pathName(const ::testing::TestParamInfo<DecodePath>& info) {
    return std::string(info.param == DecodePath::Reference ? "Reference" : "Fast") +
           (info.param == DecodePath::FastPortable ? "Portable" : "");
}
#define KORVANE_ALL_PATHS(Suite) INSTANTIATE_TEST_SUITE_P(Paths, Suite, ::testing::ValuesIn(ALL_PATHS), pathName)

}  // namespace korvane::test
