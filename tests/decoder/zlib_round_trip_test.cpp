// Streams written by the system zlib: every level, strategy, window size and a
// couple of memory levels over varied data, streams of mixed block types, junk
// after the stream and truncation at every length.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "decode_support.hpp"
#include "tessel_writer.hpp"

namespace korvane::test {
namespace {

Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Words from a small vocabulary: many short and medium matches.
Bytes textLike(size_t size, uint32_t seed) {
    static const std::string WORDS[] = {"the ",     "tessel ",  "block ", "header ", "stream ", "of ",    "a ",
                                        "Korvane ", "decodes ", "PNG ",   "image, ", "and\n",   "bytes. "};
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < size) out += WORDS[rng() % std::size(WORDS)];
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
}

// Runs of up to 1500 equal bytes: long distance-1 copies.
Bytes longRuns(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) out.insert(out.end(), rng() % 1500 + 1, static_cast<uint8_t>(rng() % 4));
    out.resize(size);
    return out;
}

// Filtered rows of RGB gradients with some noise, like PNG image data.
Bytes imageLike(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        const size_t y = i / 952;
        const size_t x = i % 952;
        out[i] = x == 0 ? static_cast<uint8_t>(y % 5)
                        : static_cast<uint8_t>(x * (x % 3 + 1) + y * 2 + (rng() % 8 == 0 ? rng() % 16 : 0));
    }
    return out;
}

struct Sample {
    std::string name;
    Bytes data;
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> all = {{"random", randomBytes(60000, 1)},
                                            {"text", textLike(150000, 2)},
                                            {"runs", longRuns(150000, 3)},
                                            {"image", imageLike(150000, 4)}};
    return all;
}

tessel::ZlibOptions options(int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15, int memLevel = 8) {
    tessel::ZlibOptions o;
    o.level = level;
    o.strategy = strategy;
    o.windowBits = windowBits;
    o.memLevel = memLevel;
    return o;
}

using RoundTrip = PathTest;

void expectRoundTrip(const Bytes& data, const tessel::ZlibOptions& options, DecodePath path) {
    const Bytes stream = tessel::zlibCompress(data, options);
    EXPECT_EQ(inflateZlib(stream, path), ok(data, stream.size()));
}

TEST_P(RoundTrip, EveryLevel) {
    for (const Sample& s : samples())
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE(s.name + " level " + std::to_string(level));
            expectRoundTrip(s.data, options(level), path());
        }
}

TEST_P(RoundTrip, EveryStrategy) {
    for (const Sample& s : samples())
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
            for (int level : {1, 9}) {
                SCOPED_TRACE(s.name + " strategy " + std::to_string(strategy) + " level " + std::to_string(level));
                expectRoundTrip(s.data, options(level, strategy), path());
            }
}

TEST_P(RoundTrip, WindowSizesAndMemoryLevels) {
    const Bytes& text = samples()[1].data;
    const Bytes& image = samples()[3].data;
    for (int windowBits = 9; windowBits <= 15; ++windowBits) {
        SCOPED_TRACE("windowBits " + std::to_string(windowBits));
        expectRoundTrip(text, options(6, Z_DEFAULT_STRATEGY, windowBits), path());
        expectRoundTrip(image, options(9, Z_DEFAULT_STRATEGY, windowBits), path());
    }
    for (int memLevel : {1, 9}) {
        SCOPED_TRACE("memLevel " + std::to_string(memLevel));
        expectRoundTrip(text, options(6, Z_DEFAULT_STRATEGY, 15, memLevel), path());
        expectRoundTrip(image, options(1, Z_DEFAULT_STRATEGY, 15, memLevel), path());
    }
}

TEST_P(RoundTrip, Sizes) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{258}, size_t{32768}, size_t{65535},
                        size_t{65536}, size_t{65537}}) {
        SCOPED_TRACE(size);
        expectRoundTrip(textLike(size, 5), options(6), path());
        expectRoundTrip(randomBytes(size, 6), options(0), path());
        expectRoundTrip(randomBytes(size, 7), options(6, Z_FIXED), path());
    }
    const Bytes large = imageLike(3 << 20, 8);
    expectRoundTrip(large, options(1), path());
}

TEST_P(RoundTrip, MixedBlockTypes) {
    const Bytes data = textLike(120000, 9);
    const std::vector<tessel::Piece> pieces = {{10000, 0, Z_DEFAULT_STRATEGY},
                                               {20000, 6, Z_FIXED},
                                               {15000, 6, Z_DEFAULT_STRATEGY},
                                               {1000, 0, Z_DEFAULT_STRATEGY},
                                               {30000, 9, Z_HUFFMAN_ONLY},
                                               {5000, 1, Z_FIXED},
                                               {20000, 6, Z_RLE}};
    const Bytes stream = tessel::zlibCompressPieces(data, pieces);
    EXPECT_EQ(inflateZlib(stream, path()), ok(data, stream.size()));
}

TEST_P(RoundTrip, BytesAfterTheStreamAreNotCounted) {
    const Bytes data = textLike(20000, 10);
    for (int level : {0, 6}) {
        const Bytes stream = tessel::zlibCompress(data, options(level));
        for (const Bytes& junk : {Bytes(1, 0xFF), Bytes(3, 0x00), randomBytes(5000, 11)}) {
            Bytes followed = stream;
            followed.insert(followed.end(), junk.begin(), junk.end());
            EXPECT_EQ(inflateZlib(followed, path()), ok(data, stream.size()));
        }
    }
}

// Cutting the span anywhere before the end of the DEFLATE data runs out of data;
// cutting inside the trailer still gives everything, counted as if the trailer were there.
TEST_P(RoundTrip, TruncatedAtEveryLength) {
    const Bytes text = textLike(3000, 12);
    const std::vector<std::pair<std::string, Bytes>> streams = {
        {"stored", tessel::zlibCompress(Bytes(text.begin(), text.begin() + 40), options(0))},
        {"fixed", tessel::zlibCompress(text, options(6, Z_FIXED))},
        {"dynamic", tessel::zlibCompress(text, options(6))},
        {"worked example", {0x78, 0x01, 0x05, 0xC1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x80, 0x90, 0xAD,
                            0xFA, 0x3F, 0x22, 0x00, 0x00, 0xA0, 0x01, 0x57, 0x9D, 0x07, 0xF7}},
    };
    for (const auto& [name, stream] : streams) {
        const Outcome full = inflateZlib(stream, path());
        ASSERT_EQ(full.consumed, stream.size()) << name << ": " << full.error;
        const size_t deflateEnd = stream.size() - 4;
        for (size_t cut = 0; cut <= stream.size(); ++cut) {
            SCOPED_TRACE(name + " cut to " + std::to_string(cut));
            const Bytes span(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
            const Outcome expected = cut < 6 ? fails(DATA_TOO_SMALL) : cut < deflateEnd ? fails(UNEXPECTED_END) : full;
            ASSERT_EQ(inflateZlib(span, path()), expected);
        }
    }
}

KORVANE_BOTH_PATHS(RoundTrip);

}  // namespace
}  // namespace korvane::test
