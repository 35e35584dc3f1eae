// Streams written by the system zlib: every level, strategy, window size and a
// couple of memory levels over varied data, streams of mixed block types and
// junk after the stream. Truncated streams are in fast_path_test.cpp.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

// Runs of up to 1500 equal bytes: long distance-1 copies.
Bytes longRuns(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) out.insert(out.end(), rng() % 1500 + 1, static_cast<uint8_t>(rng() % 4));
    out.resize(size);
    return out;
}

using RoundTrip = PathTest;

void expectRoundTrip(const Bytes& data, const tessel::ZlibOptions& options, DecodePath path) {
    const Bytes stream = tessel::zlibCompress(data, options);
    EXPECT_EQ(inflateZlib(stream, path), ok(data, stream.size()));
}

TEST_P(RoundTrip, LevelsStrategiesWindowsAndMemoryLevels) {
    std::vector<tessel::ZlibOptions> all;
    for (int level = 0; level <= 9; ++level) all.push_back({.level = level});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
        for (int level : {1, 9}) all.push_back({.level = level, .strategy = strategy});
    for (int windowBits = 9; windowBits <= 14; ++windowBits) all.push_back({.level = 9, .windowBits = windowBits});
    for (int memLevel : {1, 9}) all.push_back({.level = 6, .memLevel = memLevel});
    const std::pair<std::string, Bytes> samples[] = {
        {"random", randomBytes(60000, 1)}, {"text", textLike(150000, 2)}, {"runs", longRuns(150000, 3)}};
    for (const auto& [name, data] : samples)
        for (const tessel::ZlibOptions& o : all) {
            SCOPED_TRACE(name + " level " + std::to_string(o.level) + " strategy " + std::to_string(o.strategy) +
                         " windowBits " + std::to_string(o.windowBits) + " memLevel " + std::to_string(o.memLevel));
            expectRoundTrip(data, o, path());
        }
}

TEST_P(RoundTrip, Sizes) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{258}, size_t{32768}, size_t{65535},
                        size_t{65536}, size_t{65537}}) {
        SCOPED_TRACE(size);
        expectRoundTrip(textLike(size, 5), {.level = 6}, path());
        expectRoundTrip(randomBytes(size, 6), {.level = 0}, path());
        expectRoundTrip(randomBytes(size, 7), {.level = 6, .strategy = Z_FIXED}, path());
    }
    // Far more output than the initial reservation of four times the input.
    expectRoundTrip(longRuns(3 << 20, 8), {.level = 1}, path());
}

// Bytes after the stream are neither read nor counted.
TEST_P(RoundTrip, MixedBlockTypesAndJunkAfterTheStream) {
    const Bytes data = textLike(120000, 9);
    const std::vector<tessel::Piece> pieces = {{10000, 0, Z_DEFAULT_STRATEGY},
                                               {20000, 6, Z_FIXED},
                                               {15000, 6, Z_DEFAULT_STRATEGY},
                                               {1000, 0, Z_DEFAULT_STRATEGY},
                                               {30000, 9, Z_HUFFMAN_ONLY},
                                               {5000, 1, Z_FIXED},
                                               {20000, 6, Z_RLE}};
    for (const Bytes& stream : {tessel::zlibCompressPieces(data, pieces), tessel::zlibCompress(data, {.level = 0})})
        for (const Bytes& junk : {Bytes{}, Bytes(1, 0xFF), Bytes(3, 0x00), randomBytes(5000, 11)}) {
            Bytes followed = stream;
            followed.insert(followed.end(), junk.begin(), junk.end());
            EXPECT_EQ(inflateZlib(followed, path()), ok(data, stream.size()));
        }
}

KORVANE_ALL_PATHS(RoundTrip);

}  // namespace
}  // namespace korvane::test
