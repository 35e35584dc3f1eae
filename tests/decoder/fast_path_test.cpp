// zlib's streams round trip on every path; the fast path agrees with the
// bit-at-a-time one (bytes and consumed count, or error) on real streams cut
// at every length and on random near-complete codes; the fast loop's budgets.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using tessel::zlibCompress;

// Runs of up to 1500 bytes repeating a random pattern of 1 to 40 (mostly 1 to 8) bytes.
Bytes periodic(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const size_t start = out.size(), period = 1 + rng() % (rng() % 2 == 0 ? 8 : 40), length = rng() % 1500 + 1;
        for (size_t i = 0; i < length; ++i)
            out.push_back(i < period ? static_cast<uint8_t>(rng() % 4) : out[start + i - period]);
    }
    out.resize(size);
    return out;
}

using RoundTrip = PathTest;

TEST_P(RoundTrip, EveryLevelStrategyWindowSizeAndMemoryLevel) {
    std::vector<tessel::ZlibOptions> all;
    for (int level = 0; level <= 9; ++level) all.push_back({.level = level});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
        for (int level : {1, 9}) all.push_back({.level = level, .strategy = strategy});
    for (int windowBits = 9; windowBits <= 14; ++windowBits) all.push_back({.level = 9, .windowBits = windowBits});
    for (int memLevel : {1, 9}) all.push_back({.level = 6, .memLevel = memLevel});
    std::vector<std::pair<Bytes, tessel::ZlibOptions>> cases;  // data, how it is compressed
    for (const Bytes& data : {randomBytes(60000, 1), textLike(150000, 2), periodic(150000, 3)})
        for (const tessel::ZlibOptions& options : all) cases.push_back({data, options});
    for (const size_t size : std::initializer_list<size_t>{0, 1, 2, 7, 258, 32768, 65535, 65536, 65537}) {
        cases.push_back({textLike(size, 5), {.level = 6}});
        cases.push_back({randomBytes(size, 6), {.level = 0}});
        cases.push_back({randomBytes(size, 7), {.level = 6, .strategy = Z_FIXED}});
    }
    cases.push_back({periodic(3 << 20, 8), {.level = 1}});  // far more output than the first reservation (4x input)
    for (size_t i = 0; i < cases.size(); ++i) {
        const Bytes stream = zlibCompress(cases[i].first, cases[i].second);
        // Every other stream is followed by bytes that must be neither read nor counted.
        EXPECT_EQ(inflateZlib(stream + randomBytes(i % 2 * 100, static_cast<uint32_t>(i)), GetParam()),
                  ok(cases[i].first, stream.size()))
            << "case " << i;
    }
}

KORVANE_ALL_PATHS(RoundTrip);

// Both fast variants against the bit-at-a-time path, alone and after earlier
// output (which copies must not reach); returns the bit-at-a-time outcome.
Outcome expectPathsAgree(const Bytes& stream, const std::string& what) {
    Outcome literal = inflateZlib(stream, DecodePath::Reference);
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const Outcome literalAppended = inflateAppend(earlier, stream, DecodePath::Reference);
    for (const DecodePath fast : {DecodePath::Fast, DecodePath::FastPortable}) {
        EXPECT_EQ(inflateZlib(stream, fast), literal) << what;
        EXPECT_EQ(inflateAppend(earlier, stream, fast), literalAppended) << what << " (appended)";
    }
    return literal;
}

// A cut before the end of the DEFLATE data runs out of data; one inside the
// trailer still gives everything, counted as if the trailer were there.
TEST(FastPath, AgreesOnRealStreamsCutAtEveryLength) {
    std::mt19937 random(11);
    std::vector<Bytes> streams;
    Bytes text = textLike(3000, 12);  // with random bytes sprinkled in: long literal codes
    for (size_t i = 0; i < text.size(); i += 1 + random() % 40) text[i] = static_cast<uint8_t>(random());
    Bytes noise(1500);
    for (auto& b : noise) b = static_cast<uint8_t>(random() % 16);
    for (int level : {1, 6, 9})
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
            streams.push_back(zlibCompress(text, {.level = level, .strategy = strategy}));
            streams.push_back(zlibCompress(noise, {.level = level, .strategy = strategy, .windowBits = 9}));
        }
    const tessel::Piece pieces[] = {{700, 9, Z_DEFAULT_STRATEGY}, {300, 0, Z_DEFAULT_STRATEGY}, {900, 6, Z_FIXED}};
    streams.push_back(tessel::zlibCompressPieces(text, pieces));
    streams.push_back(zlibCompress(Bytes(text.begin(), text.begin() + 40), {.level = 0}));
    for (const Bytes& stream : streams) {
        const Outcome full = ok(tessel::zlibInflate(stream).value().bytes, stream.size());
        for (size_t cut = 0; cut <= stream.size() && !HasFailure(); ++cut) {
            const std::string what = "cut at " + std::to_string(cut) + " of " + std::to_string(stream.size());
            const Outcome expected = cut < 6                   ? fails(DATA_TOO_SMALL)
                                     : cut < stream.size() - 4 ? fails(UNEXPECTED_END)
                                                               : full;
            EXPECT_EQ(expectPathsAgree(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)), what), expected)
                << what;
        }
    }
}

// A random complete code for `count` symbols, nudged: one code dropped,
// shortened (over-subscribed) or added.
std::vector<int> nudgedCode(int count, std::mt19937& random) {
    std::vector<int> lengths =
        randomCode(static_cast<size_t>(count), 1 + random() % static_cast<unsigned>(count), random);
    int& nudged = lengths[random() % lengths.size()];
    const auto nudge = random() % 4;
    if (nudge == 0) nudged = 0;
    if (nudge == 1 && nudged > 1) --nudged;
    if (nudge == 2 && nudged == 0) nudged = static_cast<int>(1 + random() % 15);
    return lengths;
}

// A dynamic block with such codes, sent plainly, followed by random bits and
// then zeros or ones, so that decoding meets every kind of symbol and error.
TEST(FastPath, AgreesOnNearlyCompleteCodesAndRandomBits) {
    std::mt19937 random(2026);
    for (int trial = 0; trial < 3000 && !HasFailure(); ++trial) {
        const int hlit = 257 + static_cast<int>(random() % 32);
        const int hdist = 1 + static_cast<int>(random() % 32);
        BitWriter w = zlibHeader();
        dynamicHeader(w, true, nudgedCode(hlit, random), nudgedCode(hdist, random));
        for (auto payloadBits = random() % 4000; payloadBits > 0; --payloadBits) w.bits(random() % 2, 1);
        const auto fill = random() % 2 * 0xFF;
        for (int i = 0; i < 40; ++i) w.bits(fill, 8);
        expectPathsAgree(w.data(), "trial " + std::to_string(trial));
    }
}

using FastPathLimits = PathTest;  // streams that hold the fast loop to its budgets

// Right after a header ending at bit 6 of a byte, the longest pair, 48 bits
// (symbols 284 and 29: 15-bit codes, 5 and 13 extra bits, 32 KiB back into a
// stored block), then a 12-bit literal looked up from the bits the pair left;
// then every other code of 1 to 15 bits once.
TEST_P(FastPathLimits, LongestPairRightAfterAnOddHeader) {
    auto literals = lengthsFor(285, {{'a', 1}, {256, 2}, {283, 15}, {284, 15}});
    for (int length = 3; length <= 14; ++length) literals[static_cast<size_t>('b' + length - 3)] = length;  // 'k': 12
    auto distances = lengthsFor(30, {{28, 15}, {29, 15}});
    for (int length = 1; length <= 14; ++length) distances[static_cast<size_t>(length - 1)] = length;
    BitWriter w;
    dynamicHeader(w.storedBlock(false, randomBytes(32768, 4)), true, literals, distances);
    ASSERT_EQ(w.bitCount() % 8, 6U);
    const Code literalCode(literals), distanceCode(distances);
    BlockBody body{w, literalCode, distanceCode};
    body.lengthCode(284, 31).distanceCode(29, 8191).text("kabcdefghijlm").lengthCode(283, 0).distanceCode(28, 0);
    for (int d = 0; d < 14; ++d) body.lengthCode(284, 0).distanceCode(d, 0);
    body.end();
    expectRaw(w.data(), GetParam(), ok(tessel::zlibInflate(w.data(), true).value().bytes, w.data().size()));
}

KORVANE_ALL_PATHS(FastPathLimits);

// The program's zlibDecompressAppend decodes every byte of a Huffman-coded
// stream on the fast path, to the last, copies back to the stream's first
// byte included (zlib never writes those).
TEST(FastPath, IsWhatTheProgramRuns) {
    const Bytes text = textLike(1 << 20, 8);
    Bytes abab(2 + 4000 * 258);
    for (size_t i = 0; i < abab.size(); ++i) abab[i] = i % 2 == 0 ? 'a' : 'b';
    BitWriter w = zlibHeader();
    BlockBody body = fixedBlock(w, true).text("ab");
    for (int i = 0; i < 4000; ++i) body.copy(258, 2);
    const std::pair<Bytes, Bytes> cases[] = {{zlibCompress(text), text},
                                             {zlibCompress(text, {.strategy = Z_FIXED}), text},
                                             {body.end().w.bytes(Bytes(4, 0)).data(), abab}};
    for (const auto& [stream, data] : cases) {
        ByteBuffer out;
        (void)takeFastLoopCounts();
        EXPECT_EQ(zlibDecompressAppend(stream.data(), stream.size(), out), stream.size());
        EXPECT_EQ(Bytes(out.begin(), out.end()), data);
        EXPECT_EQ(takeFastLoopCounts().bytes, data.size()) << "stream of " << stream.size() << " bytes";
    }
}

// A block cut short hands over with its output in step with the bits read,
// also when the last bytes' padded decode is refused: in a fixed block of
// 8-bit literals, 8 bits a byte.
TEST(FastPath, HandsOverInStepWithItsOutput) {
    std::string letters;
    for (int i = 0; i < 300; ++i) letters += static_cast<char>('a' + i * 7 % 26);
    BitWriter w;
    fixedBlock(w, true).text(letters.c_str());
    const Bytes block = w.data();
    for (const FastVariant variant : {FastVariant::Best, FastVariant::Portable})
        for (size_t cut = block.size() - 40; cut <= block.size(); ++cut) {
            BitReader reader{block.data(), cut, 0, 3};
            ByteBuffer out;
            const FastLane lane{&reader, &out, 0, &fixedLiteralCode(), &fixedDistanceCode()};
            ASSERT_EQ(decodeBlocksFast({&lane, 1}, variant).result, FastResult::HandOver);
            EXPECT_EQ(reader.bytePos * 8 + static_cast<uint64_t>(reader.bitPos), 3 + 8 * out.size())
                << "cut at " << cut;
            EXPECT_EQ(std::string(out.begin(), out.end()), letters.substr(0, out.size()));
        }
}

// A walk over zlib streams laid end to end, as the program walks a container:
// the joined bytes, each stream's consumed count, the error that ended it.
struct Walk {
    Bytes bytes;
    std::vector<size_t> consumed;
    std::string error;
    bool operator==(const Walk&) const = default;
};

// What a watcher was shown, rebuilt; a stretch shown twice is a failure.
struct Shown final : OutputWatcher {
    Bytes bytes;
    void appended(const uint8_t* output, size_t from, size_t size) override {
        EXPECT_EQ(from, bytes.size());
        bytes.insert(bytes.end(), output + from, output + size);
    }
    void cutBack(size_t size) override { bytes.resize(size); }
};

// Guesses each next stream at `starts[i + ahead] + shift`; `ahead` 0: no guess.
Walk walk(const Bytes& file, const std::vector<size_t>& starts, DecodePath path, size_t ahead, int shift) {
    ByteBuffer out;
    Shown shown;
    StreamSequence sequence(out, &shown);
    DecoderTesting::setPath(sequence, path);
    Walk result;
    try {
        for (size_t offset = 0, i = 0; offset < file.size(); offset += result.consumed.back(), ++i) {
            StreamSequence::Next next;
            const size_t at =
                ahead > 0 && i + ahead < starts.size() ? starts[i + ahead] + static_cast<size_t>(shift) : 0;
            if (at > offset && at < file.size()) next = {&file[at], file.size() - at};
            result.consumed.push_back(sequence.decodeAppend(&file[offset], file.size() - offset, next));
        }
    } catch (const DecodeError& e) {
        result.error = e.what();
    }
    result.bytes.assign(out.begin(), out.end());
    EXPECT_EQ(shown.bytes, result.bytes);
    return result;
}

// Two lanes give what one gives, whether each guess is right, off by a few
// bytes or a stream too far, on real streams of every kind, whole and with a
// byte changed (so that a lane ahead meets errors, and the guess is wrong
// where the current stream changes length).
TEST_P(RoundTrip, TwoLanesAgreeWithOne) {
    std::vector<Bytes> streams;
    for (const Bytes& data : {randomBytes(20000, 1), textLike(40000, 2), periodic(40000, 3)})
        for (const tessel::ZlibOptions& options :
             std::initializer_list<tessel::ZlibOptions>{{.level = 0},
                                                        {.level = 1},
                                                        {.level = 6, .strategy = Z_FIXED},
                                                        {.level = 9, .windowBits = 9},
                                                        {.level = 6, .strategy = Z_HUFFMAN_ONLY},
                                                        {.level = 6, .strategy = Z_RLE}})
            streams.push_back(zlibCompress(data, options));
    for (const size_t size : {size_t{0}, size_t{1}, size_t{258}, size_t{70000}})
        streams.push_back(zlibCompress(textLike(size, 4), {.level = 6}));
    // An over-subscribed literal code, which only the bit-at-a-time decoder
    // takes ("bcb"), and a trailer, counted but not checked.
    BitWriter over = zlibHeader();
    dynamicHeader(over, true, lengthsFor(257, {{'a', 1}, {'b', 2}, {'c', 2}, {256, 2}}), {1}).arrival("10 11 10 00");
    streams.push_back(over.data() + Bytes(4, 0));
    std::mt19937 random(19);
    (void)takeFastLoopCounts();
    for (int trial = 0; trial < 40 && !HasFailure(); ++trial) {
        std::shuffle(streams.begin(), streams.end(), random);
        Bytes file;
        std::vector<size_t> starts;
        for (size_t i = 0; i < 6; ++i) starts.push_back(file.size()), file = file + streams[i];
        if (trial % 2 == 1) file[random() % file.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        const Walk alone = walk(file, starts, GetParam(), 0, 0);
        EXPECT_TRUE(trial % 2 == 1 || (alone.error.empty() && alone.consumed.size() == 6));
        for (const auto& [ahead, shift] : {std::pair<size_t, int>{1, 0}, {1, -1}, {1, 1}, {1, 5}, {2, 0}})
            EXPECT_EQ(walk(file, starts, GetParam(), ahead, shift), alone)
                << "trial " << trial << ", guessed " << ahead << " ahead, shifted " << shift;
    }
    EXPECT_EQ(takeFastLoopCounts().pairedLiterals > 0, GetParam() != DecodePath::Reference);
}

// Stored blocks ahead are copied only while the stream ahead has decoded no
// more than the current one, so a wrong guess costs at most a block more; an
// empty span, or another span of the same size, is no guess taken up.
TEST(TwoLanes, StoredBlocksAheadKeepPace) {
    const Bytes text = zlibCompress(textLike(200000, 9)), stored = zlibCompress(randomBytes(1 << 20, 10), {.level = 0});
    const Bytes file = text + stored;
    ByteBuffer out;
    StreamSequence sequence(out, nullptr);
    DecoderTesting::setPath(sequence, DecodePath::Fast);
    EXPECT_THROW(sequence.decodeAppend(nullptr, 0, {}), DecodeError);
    EXPECT_EQ(sequence.decodeAppend(file.data(), file.size(), {&file[text.size()], stored.size()}), text.size());
    EXPECT_GT(DecoderTesting::bytesAhead(sequence), 200000U);
    EXPECT_LE(DecoderTesting::bytesAhead(sequence), 200000U + 65535U);
    // Work ahead is taken up only by the span it was guessed for.
    const Bytes other = zlibCompress(randomBytes(1 << 20, 11), {.level = 0});
    ASSERT_EQ(other.size(), stored.size());
    EXPECT_EQ(sequence.decodeAppend(other.data(), other.size(), {}), other.size());
    EXPECT_EQ(Bytes(out.begin() + 200000, out.end()), randomBytes(1 << 20, 11));
    EXPECT_EQ(sequence.decodeAppend(&file[text.size()], stored.size(), {}), stored.size());
    EXPECT_EQ(Bytes(out.begin() + 200000 + (1 << 20), out.end()), randomBytes(1 << 20, 10));
}

}  // namespace
}  // namespace korvane::test
