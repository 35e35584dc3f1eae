// The fast decoding path against the bit-at-a-time one, on inputs where they
// are most likely to part ways: real streams cut at every length, mutated
// streams, and dynamic blocks with random (often incomplete or
// over-subscribed) codes followed by random bits. Both paths must give the
// same bytes and consumed count, or the same error.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "decode_support.hpp"
#include "tessel_writer.hpp"

namespace korvane::test {
namespace {

using deflate_writer::BitWriter;

// Both paths, alone and appended after earlier output (which copies must not reach).
void expectPathsAgree(const Bytes& stream, const std::string& what) {
    const Outcome literal = inflateZlib(stream, DecodePath::Literal);
    ASSERT_EQ(inflateZlib(stream, DecodePath::Fast), literal) << what;

    ByteBuffer fast(reinterpret_cast<const uint8_t*>("earlier output"), 14);
    ByteBuffer slow = fast;
    std::string fastError;
    std::string slowError;
    size_t fastConsumed = 0;
    size_t slowConsumed = 0;
    try {
        fastConsumed = zlibDecompressAppend(stream.data(), stream.size(), fast, DecodePath::Fast);
    } catch (const DecodeError& e) {
        fastError = e.what();
    }
    try {
        slowConsumed = zlibDecompressAppend(stream.data(), stream.size(), slow, DecodePath::Literal);
    } catch (const DecodeError& e) {
        slowError = e.what();
    }
    ASSERT_EQ(fastError, slowError) << what << " (appended)";
    ASSERT_EQ(fastConsumed, slowConsumed) << what << " (appended)";
    ASSERT_EQ(toBytes(fast), toBytes(slow)) << what << " (appended)";
}

Bytes textLike(size_t size, std::mt19937& random) {
    static const char* const WORDS[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "a ", "lazy ", "dog. "};
    Bytes out;
    while (out.size() < size) {
        const std::string word = WORDS[random() % 9];
        out.insert(out.end(), word.begin(), word.end());
        if (random() % 7 == 0) out.push_back(static_cast<uint8_t>(random()));
    }
    out.resize(size);
    return out;
}

std::vector<Bytes> realStreams() {
    std::mt19937 random(11);
    std::vector<Bytes> streams;
    const Bytes text = textLike(3000, random);
    Bytes noise(1500);
    for (auto& b : noise) b = static_cast<uint8_t>(random() % 16);
    for (int level : {1, 6, 9})
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
            streams.push_back(tessel::zlibCompress(text, {.level = level, .strategy = strategy}));
            streams.push_back(tessel::zlibCompress(noise, {.level = level, .strategy = strategy, .windowBits = 9}));
        }
    const tessel::Piece pieces[] = {{700, 9, Z_DEFAULT_STRATEGY}, {300, 0, Z_DEFAULT_STRATEGY}, {900, 6, Z_FIXED}};
    streams.push_back(tessel::zlibCompressPieces(text, pieces));
    return streams;
}

TEST(FastPath, AgreesOnRealStreamsCutAtEveryLength) {
    for (const Bytes& stream : realStreams()) {
        for (size_t size = 0; size <= stream.size(); ++size)
            expectPathsAgree(Bytes(stream.begin(), stream.begin() + static_cast<long>(size)),
                             "cut at " + std::to_string(size) + " of " + std::to_string(stream.size()));
    }
}

TEST(FastPath, AgreesOnMutatedStreams) {
    std::mt19937 random(5);
    for (const Bytes& stream : realStreams()) {
        for (int trial = 0; trial < 300; ++trial) {
            Bytes mutant = stream;
            const int changes = 1 + static_cast<int>(random() % 3);
            for (int i = 0; i < changes; ++i) {
                // Spare the zlib header most of the time, so that decoding starts.
                const size_t at = 2 + random() % (mutant.size() - 2);
                if (random() % 2 == 0)
                    mutant[at] ^= static_cast<uint8_t>(1U << (random() % 8));
                else
                    mutant[at] = static_cast<uint8_t>(random());
            }
            expectPathsAgree(mutant, "trial " + std::to_string(trial));
        }
    }
}

// Lengths of a random complete prefix code for `count` symbols, `used` of
// which get a code: leaves of a random binary tree no deeper than 15.
std::vector<int> completeCode(int count, int used, std::mt19937& random) {
    std::vector<int> leaves = {0};
    while (static_cast<int>(leaves.size()) < used) {
        const size_t pick = random() % leaves.size();
        if (leaves[pick] == 15) continue;
        ++leaves[pick];
        leaves.push_back(leaves[pick]);
    }
    if (used == 1) leaves[0] = 1;  // a lone code still needs one bit
    std::vector<int> lengths(static_cast<size_t>(count), 0);
    std::vector<int> symbols(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) symbols[static_cast<size_t>(i)] = i;
    std::shuffle(symbols.begin(), symbols.end(), random);
    for (size_t i = 0; i < leaves.size(); ++i) lengths[static_cast<size_t>(symbols[i])] = leaves[i];
    return lengths;
}

// Complete codes, then nudged: one code dropped (incomplete), one length
// shortened (over-subscribed by a little) or one code added.
std::vector<int> nudgedCode(int count, std::mt19937& random) {
    const int used = 1 + static_cast<int>(random() % static_cast<unsigned>(count));
    std::vector<int> lengths = completeCode(count, used, random);
    const size_t at = random() % lengths.size();
    switch (random() % 4) {
        case 0: lengths[at] = 0; break;
        case 1:
            if (lengths[at] > 1) --lengths[at];
            break;
        case 2:
            if (lengths[at] == 0) lengths[at] = static_cast<int>(1 + random() % 15);
            break;
        default: break;
    }
    return lengths;
}

// A dynamic block with such codes, sent plainly, followed by random bits and
// then zeros or ones, so that decoding meets every kind of symbol and error.
TEST(FastPath, AgreesOnNearlyCompleteCodesAndRandomBits) {
    std::mt19937 random(2026);
    for (int trial = 0; trial < 3000; ++trial) {
        const int hlit = 257 + static_cast<int>(random() % 32);
        const int hdist = 1 + static_cast<int>(random() % 32);
        BitWriter w;
        w.bits(0x78, 8).bits(0x01, 8);
        deflate_writer::dynamicHeader(w, true, nudgedCode(hlit, random), nudgedCode(hdist, random));
        const auto payloadBits = random() % 4000;
        for (unsigned long i = 0; i < payloadBits; ++i) w.bits(random() % 2, 1);
        const uint32_t fill = random() % 2;
        for (int i = 0; i < 8 * 40; ++i) w.bits(fill, 1);
        expectPathsAgree(w.data(), "trial " + std::to_string(trial));
    }
}

}  // namespace
}  // namespace korvane::test
