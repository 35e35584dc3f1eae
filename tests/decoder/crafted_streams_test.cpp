// Hand-made streams (zlib's own are in the round trips): code tables with the
// reader's position after each symbol, dynamic headers read by both readers;
// the zlib header's checks in order, what zlib never writes, every length and distance check, appending with a watcher.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "decode_support.hpp"
#include "dynamic_tables.hpp"
#include "fast_code.hpp"
#include "fast_inflate.hpp"
#include "huffman_table.hpp"

namespace korvane::test {
namespace {

// One symbol from bits in arrival order after `skip` zero bits: the symbol or
// the error, then "@ byte.bit" where the reader stopped.
std::string decodeBits(const HuffmanTable& table, const std::string& bits, int skip = 0) {
    const Bytes data = BitWriter().bits(0, skip).arrival(bits).data();
    BitReader reader{data.data(), data.size(), static_cast<uint64_t>(skip / 8), skip % 8};
    std::string result;
    try {
        result = std::to_string(table.decodeSymbol(reader));
    } catch (const DecodeError& e) {
        result = e.what();
    }
    return result + " @ " + std::to_string(reader.bytePos) + "." + std::to_string(reader.bitPos);
}

// Each case rebuilds the same table, which keeps nothing of the one before
// (the first fills 512 slots). Where two symbols' slots coincide the higher one
// holds them; a code is taken only after exactly its own number of bits.
TEST(HuffmanTable, EmptyIncompleteAndOverSubscribedCodes) {
    const std::string empty = EMPTY_HUFFMAN_TREE, invalid = INVALID_HUFFMAN_CODE, end = UNEXPECTED_END;
    const std::vector<std::pair<std::vector<int32_t>, std::vector<std::tuple<int, std::string, std::string>>>> cases = {
        {deflate_writer::fixedLiteralLengths(), {{0, "0000000", "256 @ 0.7"}}},
        // The example of RFC 1951, 3.2.2, with codes that cross a byte boundary.
        {{3, 3, 3, 3, 3, 2, 4, 4},
         {{0, "00", "5 @ 0.2"}, {6, "1110", "6 @ 1.2"}, {7, "1111", "7 @ 1.3"}, {5, "010", "0 @ 1.0"}}},
        // A single code of one bit: a 1 matches nothing, and 16 bits are read before giving up.
        {{0, 1},
         {{0, "0", "1 @ 0.1"},
          {0, "1000000000000000", invalid + " @ 2.0"},
          {5, "1111111111111111", invalid + " @ 2.5"},
          {0, "1000000", end + " @ 1.0"}}},
        // Symbol 0 loses its slot to symbol 2.
        {{1, 1, 1}, {{0, "0", "2 @ 0.1"}, {0, "1", "1 @ 0.1"}}},
        // Symbol 2 (code 00) takes slot 0 from symbol 0 (code 0), which keeps slot 2: "01" is no code.
        {{1, 1, 2}, {{0, "00", "2 @ 0.2"}, {0, "0100000000000000", invalid + " @ 2.0"}}},
        {{2, 0, 1}, {{0, "0", "2 @ 0.1"}, {0, "10", "0 @ 0.2"}, {0, "1100000000000000", invalid + " @ 2.0"}}},
        // Codes 00, 01 and 10000; everything starting 11 or 10001 is free.
        {{2, 2, 5},
         {{0, "00", "0 @ 0.2"},
          {3, "01", "1 @ 0.5"},
          {6, "10000", "2 @ 1.3"},
          {0, "1100000000000000", invalid + " @ 2.0"},
          {4, "1000100000000000", invalid + " @ 2.4"},
          {0, "1000111", end + " @ 1.0"},            // the span ends after 8 bits
          {1, "100011111111111", end + " @ 2.0"}}},  // 15 bits left: one short
        // No code at all: fails without asking for a bit, even when none is left.
        {{0, 0, 0}, {{11, "", empty + " @ 1.3"}, {0, "", empty + " @ 0.0"}}},
        {{}, {{0, "", empty + " @ 0.0"}}},
    };
    HuffmanTable table;
    for (const auto& [lengths, reads] : cases) {
        table.build(lengths);
        for (const auto& [skip, bits, result] : reads) EXPECT_EQ(decodeBits(table, bits, skip), result) << bits;
    }
}

using HeaderRead = std::pair<std::vector<int>, std::string>;

std::vector<int> rep(size_t count, int value) { return std::vector<int>(count, value); }

// The dynamic header after the 3-bit block header in `data`, read bit by bit or
// fast: the lengths, the counts (or the error, or "handed over" from the fast
// reader to the other) and the bits the reader stands after.
HeaderRead readHeader(const Bytes& data, bool fast) {
    BitReader reader{data.data(), data.size(), 0, 3};
    DynamicLengths read;
    FastCodeLengthCode code;
    HeaderRead result;
    try {
        const bool done = fast ? readDynamicLengthsFast(reader, read, code) : (readDynamicLengths(reader, read), true);
        result.second = done ? "HLIT " + std::to_string(read.litLenCount) + ", HDIST " + std::to_string(read.distCount)
                             : "handed over";
        if (done) result.first.assign(read.lengths.begin(), read.lengths.begin() + static_cast<long>(read.count));
    } catch (const DecodeError& e) {
        result.second = e.what();
    }
    result.second += ", " + std::to_string(reader.bytePos * 8 + static_cast<uint64_t>(reader.bitPos)) + " bits";
    return result;
}

// A header from explicit parts, then bits that stay unread: both readers read
// `expected` and stop after it, or fail with `error` (the fast one unmoved).
void expectHeader(int hlit, int hdist, int hclen, const std::vector<int>& codeLengthLengths,
                  const std::vector<LengthOp>& ops, const std::vector<int>& expected, const char* error = nullptr) {
    BitWriter w;
    dynamicHeader(w, true, hlit, hdist, hclen, codeLengthLengths, ops);
    const std::string counts = "HLIT " + std::to_string(hlit) + ", HDIST " + std::to_string(hdist);
    const HeaderRead read = {expected,
                             (error != nullptr ? error : counts) + ", " + std::to_string(w.bitCount()) + " bits"};
    const Bytes data = w.bytes(Bytes(24, 0xFF)).data();
    EXPECT_EQ(readHeader(data, false), read);
    EXPECT_EQ(readHeader(data, true), error != nullptr ? HeaderRead({}, "handed over, 3 bits") : read);
}

TEST(DynamicTables, LengthRunsAndCounts) {
    const std::vector<int> allFive(19, 5);  // every code-length symbol has a 5-bit code
    // Every run size; a 16 first repeats 0.
    expectHeader(257, 5, 19, allFive,
                 {{16, 0}, {8}, {16, 0}, {16, 3}, {17, 0}, {17, 7}, {18, 0}, {15}, {1}, {18, 127}, {18, 74}},
                 rep(3, 0) + rep(10, 8) + rep(3 + 10 + 11, 0) + std::vector<int>{15, 1} + rep(138 + 85, 0));
    // A 16 crosses into the distance lengths.
    expectHeader(257, 4, 19, allFive, {{18, 127}, {18, 107}, {7}, {16, 1}}, rep(256, 0) + rep(5, 7));
    // An 18 overshoots by 128; the excess is dropped.
    expectHeader(257, 1, 19, allFive, {{18, 127}, {18, 98}, {9}, {18, 127}},
                 rep(247, 0) + std::vector<int>{9} + rep(10, 0));
    // HLIT 288 and HDIST 32; a 16 overshoots.
    expectHeader(
        288, 32, 19, allFive,
        {{2}, {16, 3}, {18, 127}, {18, 127}, {17, 2}, {3}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {16, 0}},
        rep(7, 2) + rep(281, 0) + rep(32, 3));
    // HCLEN 4: only the lengths of 16, 17, 18 and 0 are sent; 0 and 18 get 1-bit codes.
    expectHeader(257, 1, 4, lengthsFor(19, {{0, 1}, {18, 1}}), {{18, 127}, {0}, {18, 107}, {0}}, rep(258, 0));
    // No code-length code: the first code-length symbol fails, after the last 3-bit field.
    expectHeader(257, 1, 4, rep(19, 0), {}, {}, EMPTY_HUFFMAN_TREE);
    expectHeader(257, 1, 19, rep(19, 0), {}, {}, EMPTY_HUFFMAN_TREE);
}

// The longest step of a header is an 18 with a 7-bit code and its 7 extra
// bits: 14 bits. Zeros with a 1-bit code in front of it put it at every count
// of bits a refill can leave, exactly 13 included.
TEST(DynamicTables, LongestLengthStepAtEveryBitCount) {
    // A complete code-length code: 0, 8, 1, 2, 3, 4 with 1 to 6 bits, 17 and 18 with 7.
    const auto codeLengthLengths = lengthsFor(19, {{0, 1}, {8, 2}, {1, 3}, {2, 4}, {3, 5}, {4, 6}, {17, 7}, {18, 7}});
    for (int zeros = 0; zeros <= 64 && !HasFailure(); ++zeros) {
        SCOPED_TRACE(std::to_string(zeros) + " zeros first");
        const auto n = static_cast<size_t>(zeros);
        std::vector<LengthOp> ops(n, LengthOp{0});
        ops.insert(ops.end(), {{18, 0}, {8}, {18, 127}, {18, 126 - static_cast<uint32_t>(zeros)}});
        expectHeader(257, 30, 19, codeLengthLengths, ops, rep(n + 11, 0) + std::vector<int>{8} + rep(275 - n, 0));
    }
}

// The fast tables refuse what they have no room for: a code-length code longer
// than its 3-bit fields allow (its table has no subtables), too many symbols.
TEST(FastCode, RefusesCodesItHasNoRoomFor) {
    FastCodeLengthCode codeLengths;
    std::vector<int32_t> lengths = {1, 2, 3, 4, 5, 6, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(codeLengths.build(lengths));
    lengths[7] = lengths[8] = 8;  // complete again, but 8 bits long
    EXPECT_FALSE(codeLengths.build(lengths));
    FastLiteralCode literals;
    EXPECT_TRUE(literals.build(std::vector<int32_t>(288, 9)));
    EXPECT_FALSE(literals.build(std::vector<int32_t>(289, 9)));
}

// A final fixed block whose body `write` fills, then the end-of-block code unless `cut`.
template <class Body>
Bytes fixed(Body write, bool cut = false) {
    BitWriter w;
    BlockBody body = fixedBlock(w, true);
    write(body);
    if (!cut) body.end();
    return w.data();
}

// A final dynamic block that sends the given lengths plainly, then its body.
template <class Body>
Bytes dynamic(const std::vector<int>& literalLengths, const std::vector<int>& distanceLengths, Body write) {
    BitWriter w;
    const Code literals(literalLengths), distances(distanceLengths);
    BlockBody body{dynamicHeader(w, true, literalLengths, distanceLengths), literals, distances};
    write(body);
    return w.data();
}

// A final dynamic block with an explicit header and a body of raw bits in arrival order.
Bytes dynamicRaw(int hlit, int hdist, int hclen, const std::vector<int>& codeLengthLengths,
                 const std::vector<LengthOp>& ops, const std::string& bits) {
    BitWriter w;
    return dynamicHeader(w, true, hlit, hdist, hclen, codeLengthLengths, ops).arrival(bits).data();
}

using ZlibStream = PathTest;

TEST_P(ZlibStream, HeaderChecksInOrder) {
    const Bytes emptyFixed = {0x03, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};  // final fixed block, end code only, trailer
    const std::vector<StreamCase> cases = {
        {"five bytes, bad method too", {0x79, 0x9C, 0x03, 0x00, 0x00}, fails(DATA_TOO_SMALL)},
        // The trailer is counted even when the span ends before it.
        {"six bytes", {0x78, 0x01, 0x03, 0x00, 0x00, 0x00}, ok(Bytes{}, 8)},
        {"08 1D: window size not examined", Bytes{0x08, 0x1D} + emptyFixed, ok(Bytes{}, 8)},
        {"79 9C: method before checksum", Bytes{0x79, 0x9C} + emptyFixed, fails(UNSUPPORTED_METHOD)},
        {"78 BC: checksum before dictionary flag", Bytes{0x78, 0xBC} + emptyFixed, fails(BAD_HEADER_CHECKSUM)},
        {"78 BB", Bytes{0x78, 0xBB} + emptyFixed, fails(PRESET_DICTIONARY)},
        {"header passes, block type 3", {0x78, 0x01, 0x07, 0x00, 0x00, 0x00}, fails(INVALID_BLOCK_TYPE)},
    };
    for (const auto& [name, stream, expected] : cases) EXPECT_EQ(inflateZlib(stream, GetParam()), expected) << name;
}

TEST_P(ZlibStream, HandMadeBlocks) {
    BitWriter afterFixed;  // a fixed block leaves 6 bits of its last byte; they are skipped even if set
    fixedBlock(afterFixed, false).text("xy").end();
    afterFixed.blockHeader(true, 0);
    while (afterFixed.bitCount() % 8 != 0) afterFixed.bits(1, 1);
    afterFixed.bits(1, 16).bits(0xFFFE, 16).bytes(bytesOf("z"));
    const auto wide = lengthsFor(288, {{'a', 2}, {'b', 2}, {256, 3}, {257, 3}, {286, 3}, {287, 3}});
    const auto wideDist = lengthsFor(32, {{0, 1}, {30, 2}, {31, 2}});
    const std::vector<int> noDist = {0};
    const auto withLength = lengthsFor(266, {{'a', 1}, {256, 2}, {265, 2}});
    // 'a' 1 bit, 'b' 'c' and 256 2 bits: 256's code 100 keeps its low bits 00 and
    // takes slot 0 from 'a', which can never be decoded; 10 is 'b' and 11 is 'c'.
    const auto overLit = lengthsFor(257, {{'a', 1}, {'b', 2}, {'c', 2}, {256, 2}});
    // Code-length code 1, 2 and 18 of 1 bit each (18 is 0, 2 is 1): 'a', 'b', 256 and
    // distance 0 get 2 bits, so 'a' = 00, 'b' = 01, 256 = 10.
    const Bytes overCodeLength = dynamicRaw(257, 1, 18, lengthsFor(19, {{1, 1}, {2, 1}, {18, 1}}),
                                            {{18, 86}, {2}, {2}, {18, 127}, {18, 8}, {2}, {2}}, "01 00 01 10");
    // The span ends between length symbol 265's code and its extra bit.
    const Bytes extraCut = dynamic(withLength, noDist, [](BlockBody& b) {
        while (b.w.bitCount() % 8 != 6) b.literal('a');
        b.literal(265);
    });

    const std::vector<StreamCase> cases = {
        whole("stored after a fixed block", afterFixed.data(), "xyz"),
        {"stored, NLEN not the complement", {0x01, 0x05, 0x00, 0xFA, 0xFE, 1, 2, 3, 4, 5}, fails(INVALID_STORED_BLOCK)},
        {"block type 3 after a stored block", BitWriter().storedBlock(false, bytesOf("ok")).blockHeader(true, 3).data(),
         fails(INVALID_BLOCK_TYPE)},
        {"copy before any output", fixed([](BlockBody& b) { b.copy(3, 1); }), fails(INVALID_DISTANCE)},
        whole("distance equal to the output", fixed([](BlockBody& b) { b.text("abc").copy(5, 3); }), "abcabcab"),
        {"distance one past the output", fixed([](BlockBody& b) { b.text("abc").copy(5, 4); }),
         fails(INVALID_DISTANCE)},
        whole("length 258 by symbol 285 and by 284 + 31", fixed([](BlockBody& b) {
                  b.text("z").lengthCode(285, 0).distanceCode(0, 0).lengthCode(284, 31).distanceCode(0, 0);
              }),
              std::string(517, 'z')),
        {"length symbol 286", fixed([](BlockBody& b) { b.text("a").literal(286); }), fails(INVALID_LENGTH_CODE)},
        // The span ends with the distance code: the check comes before extra bits would be read.
        {"distance symbol 30",
         fixed([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 30); }, true),
         fails(INVALID_DISTANCE_CODE)},
        // Dynamic blocks whose codes are unusual but accepted, and their errors.
        whole("HLIT 288, HDIST 32", dynamic(wide, wideDist, [](BlockBody& b) { b.text("ab").copy(3, 1).end(); }),
              "abbbb"),
        {"length symbol 286 used", dynamic(wide, wideDist, [](BlockBody& b) { b.text("a").literal(286); }),
         fails(INVALID_LENGTH_CODE)},
        {"distance symbol 31 used",
         dynamic(wide, wideDist, [](BlockBody& b) { b.text("ab").lengthCode(257, 0).distances.write(b.w, 31); }),
         fails(INVALID_DISTANCE_CODE)},
        whole("no distance codes, literals only",
              dynamic(withLength, noDist, [](BlockBody& b) { b.text("aaa").end(); }), "aaa"),
        {"no distance codes, then a length symbol",
         dynamic(withLength, noDist, [](BlockBody& b) { b.text("a").lengthCode(265, 1).end(); }),
         fails(EMPTY_HUFFMAN_TREE)},
        {"no distance codes, length extra bit past the span", extraCut, fails(UNEXPECTED_END)},
        {"HCLEN 4 leaves no literal codes",
         dynamicRaw(257, 1, 4, lengthsFor(19, {{0, 1}, {18, 1}}), {{18, 127}, {0}, {18, 107}, {0}}, "0000"),
         fails(EMPTY_HUFFMAN_TREE)},
        whole("over-subscribed literal code", dynamic(overLit, {1}, [](BlockBody& b) { b.w.arrival("10 11 10 00"); }),
              "bcb"),
        whole("over-subscribed code-length code", overCodeLength, "bab"),
        {"incomplete code-length code, free pattern",
         dynamicRaw(257, 1, 4, lengthsFor(19, {{18, 1}}), {}, "1 000000000000000"), fails(INVALID_HUFFMAN_CODE)},
    };
    for (const auto& [name, stream, expected] : cases) {
        SCOPED_TRACE(name);
        expectRaw(stream, GetParam(), expected);
    }
}

// Records what a watcher is told: "+from,size" per block, "cut size" on failure.
struct RecordingWatcher final : OutputWatcher {
    std::string calls;
    void appended(const uint8_t*, size_t from, size_t size) override {
        calls += " +" + std::to_string(from) + "," + std::to_string(size);
    }
    void cutBack(size_t size) override { calls += " cut " + std::to_string(size); }
};

// Decoding onto "ok": a failure cuts the buffer back to what it held, and the
// watcher sees each block and the cut. (A copy that reaches into the earlier
// output fails: the CLI test's DistanceBeforeOutput.)
TEST_P(ZlibStream, AppendShowsEachBlockAndCutsBackOnFailure) {
    BitWriter good = zlibHeader().storedBlock(false, bytesOf("abc"));
    fixedBlock(good, false).text("de").end();
    BitWriter failsLater = good;
    failsLater.blockHeader(true, 3);
    fixedBlock(good, true).copy(4, 5).end();
    const size_t goodSize = good.data().size() + 4;  // the trailer counts, unread

    const std::tuple<BitWriter*, Outcome, const char*> cases[] = {
        {&good, ok("okabcdeabcd", goodSize), " +2,5 +5,7 +7,11"},
        {&failsLater, Outcome{bytesOf("ok"), 0, INVALID_BLOCK_TYPE}, " +2,5 +5,7 cut 2"},
    };
    for (const auto& [stream, expected, calls] : cases) {
        RecordingWatcher watcher;
        EXPECT_EQ(inflateAppend(bytesOf("ok"), stream->bytes(Bytes(40, 0)).data(), GetParam(), &watcher), expected);
        EXPECT_EQ(watcher.calls, calls);
    }
}

KORVANE_ALL_PATHS(ZlibStream);

}  // namespace
}  // namespace korvane::test
