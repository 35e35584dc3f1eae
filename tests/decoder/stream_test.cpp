// The zlib frame and the block loop: header checks in order, stored and
// fixed-code blocks, every length/distance check, and appending to earlier
// output with a watcher. Well-formed streams of every kind are zlib's own in
// the round trips (fast_path_test.cpp); the hand-made ones here are the rest.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

// A final fixed block whose body `write` fills, then the end-of-block code
// unless `cut`: then the span ends with the byte that holds the last bit written.
template <class Body>
Bytes fixed(Body write, bool cut = false) {
    BitWriter w;
    BlockBody body = fixedBlock(w, true);
    write(body);
    if (!cut) body.end();
    return w.data();
}

using ZlibStream = PathTest;

TEST_P(ZlibStream, HeaderChecksInOrder) {
    const Bytes emptyFixed = {0x03, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};  // final fixed block, end code only, trailer
    const std::vector<StreamCase> cases = {
        {"empty span", {}, fails(DATA_TOO_SMALL)},
        {"five bytes, bad method too", {0x79, 0x9C, 0x03, 0x00, 0x00}, fails(DATA_TOO_SMALL)},
        // The trailer is counted even when the span ends before it.
        {"six bytes", {0x78, 0x01, 0x03, 0x00, 0x00, 0x00}, ok(Bytes{}, 8)},
        {"78 DA", Bytes{0x78, 0xDA} + emptyFixed, ok(Bytes{}, 8)},
        {"08 1D: window size not examined", Bytes{0x08, 0x1D} + emptyFixed, ok(Bytes{}, 8)},
        {"79 9C: method before checksum", Bytes{0x79, 0x9C} + emptyFixed, fails(UNSUPPORTED_METHOD)},
        {"77 09: method 7, valid checksum", Bytes{0x77, 0x09} + emptyFixed, fails(UNSUPPORTED_METHOD)},
        {"78 9D", Bytes{0x78, 0x9D} + emptyFixed, fails(BAD_HEADER_CHECKSUM)},
        {"78 BC: checksum before dictionary flag", Bytes{0x78, 0xBC} + emptyFixed, fails(BAD_HEADER_CHECKSUM)},
        {"78 BB", Bytes{0x78, 0xBB} + emptyFixed, fails(PRESET_DICTIONARY)},
        {"header passes, block type 3", {0x78, 0x01, 0x07, 0x00, 0x00, 0x00}, fails(INVALID_BLOCK_TYPE)},
    };
    for (const StreamCase& c : cases) EXPECT_EQ(inflateZlib(c.stream, GetParam()), c.expected) << c.name;
}

TEST_P(ZlibStream, StoredAndFixedBlocks) {
    BitWriter afterFixed;  // a fixed block leaves 6 bits of its last byte; they are skipped even if set
    fixedBlock(afterFixed, false).text("xy").end();
    afterFixed.blockHeader(true, 0);
    while (afterFixed.bitCount() % 8 != 0) afterFixed.bits(1, 1);
    afterFixed.bits(1, 16).bits(0xFFFE, 16).bytes(bytesOf("z"));

    const std::vector<StreamCase> cases = {
        whole("stored after a fixed block", afterFixed.data(), "xyz"),
        {"stored, LEN past the span", {0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61, 0x62}, fails(UNEXPECTED_END)},
        {"stored, NLEN not the complement", {0x01, 0x05, 0x00, 0xFA, 0xFE, 1, 2, 3, 4, 5}, fails(INVALID_STORED_BLOCK)},
        {"non-final block at the end of the span", {0x00, 0x00, 0x00, 0xFF, 0xFF}, fails(UNEXPECTED_END)},
        {"block type 3, non-final", {0x06}, fails(INVALID_BLOCK_TYPE)},
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
    };
    expectCases(cases, GetParam());
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
