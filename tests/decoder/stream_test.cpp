// The zlib frame and the block loop on hand-made streams (zlib's own are in the
// round trips): header checks in order, what zlib never writes, every length
// and distance check, and appending to earlier output with a watcher.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

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
    for (const StreamCase& c : cases) EXPECT_EQ(inflateZlib(c.stream, GetParam()), c.expected) << c.name;
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
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectRaw(c.stream, GetParam(), c.expected);
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

// Decoding onto "ok": copies reach only this stream's output, a failure cuts
// the buffer back to what it held, and the watcher sees each block and the cut.
TEST_P(ZlibStream, AppendShowsEachBlockAndCutsBackOnFailure) {
    BitWriter good = zlibHeader().storedBlock(false, bytesOf("abc"));
    fixedBlock(good, false).text("de").end();
    BitWriter failsLater = good;
    failsLater.blockHeader(true, 3);
    fixedBlock(good, true).copy(4, 5).end();
    BitWriter reachesBack = zlibHeader();  // the stream's own output is empty, so even distance 1 reaches too far
    fixedBlock(reachesBack, true).copy(3, 1).end();
    const size_t goodSize = good.data().size() + 4;  // the trailer counts, unread

    const std::tuple<BitWriter*, Outcome, const char*> cases[] = {
        {&good, ok("okabcdeabcd", goodSize), " +2,5 +5,7 +7,11"},
        {&failsLater, Outcome{bytesOf("ok"), 0, INVALID_BLOCK_TYPE}, " +2,5 +5,7 cut 2"},
        {&reachesBack, Outcome{bytesOf("ok"), 0, INVALID_DISTANCE}, " cut 2"},
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
