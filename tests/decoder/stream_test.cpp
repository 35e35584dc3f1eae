// The zlib frame and the block loop: header checks in order, worked examples,
// stored and fixed-code blocks, every length/distance check, consumed counts,
// and appending to earlier output with a watcher.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

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

TEST_P(ZlibStream, WorkedExamplesAndHeaderChecksInOrder) {
    const Bytes emptyFixed = {0x03, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};  // final fixed block, end code only, trailer
    const std::vector<StreamCase> cases = {
        {"stored block",
         Bytes{0x78, 0x01, 0x01, 0x08, 0x00, 0xF7, 0xFF} + text("Korvane!") + Bytes{0x0B, 0x5D, 2, 0xD6},
         ok("Korvane!", 19)},
        {"fixed block", {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62}, ok("a", 9)},
        {"fixed block with a copy",
         {0x78, 0x9C, 0x4B, 0x4C, 0x84, 0x01, 0x00, 0x14, 0xE1, 0x03, 0xCB},
         ok(std::string(10, 'a'), 11)},
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
    // The writer produces the same bytes from the symbols, which vouches for the
    // hand-made streams below.
    EXPECT_EQ(fixed([](BlockBody& b) { b.text("a"); }), (Bytes{0x4B, 0x04, 0x00}));
    EXPECT_EQ(fixed([](BlockBody& b) { b.text("aa").copy(8, 1); }), (Bytes{0x4B, 0x4C, 0x84, 0x01, 0x00}));
}

TEST_P(ZlibStream, StoredAndFixedBlocks) {
    BitWriter afterFixed;  // a fixed block leaves 6 bits of its last byte; they are skipped even if set
    fixedBlock(afterFixed, false).text("xy").end();
    afterFixed.blockHeader(true, 0);
    while (afterFixed.bitCount() % 8 != 0) afterFixed.bits(1, 1);
    afterFixed.bits(1, 16).bits(0xFFFE, 16).bytes(text("z"));
    // Six 9-bit literals fill the block exactly to a byte boundary: 3 + 54 + 7 bits.
    const Bytes exact = fixed(
        [](BlockBody& b) { b.literal(0x90).literal(0x91).literal(0x92).literal(0x93).literal(0x94).literal(0x95); });
    BitWriter acrossBlocks;
    fixedBlock(acrossBlocks, false).text("abc").end();
    fixedBlock(acrossBlocks, true).copy(6, 3).end();
    BitWriter fromStored;
    fromStored.storedBlock(false, text("hello"));
    fixedBlock(fromStored, true).copy(5, 5).text("!").end();

    const std::vector<StreamCase> cases = {
        {"stored, final, LEN 0", {0x01, 0x00, 0x00, 0xFF, 0xFF}, ok(Bytes{}, 5)},
        whole("stored after a fixed block", afterFixed.data(), "xyz"),
        {"stored, LEN past the span", {0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61, 0x62}, fails(UNEXPECTED_END)},
        {"stored, NLEN not the complement", {0x01, 0x05, 0x00, 0xFA, 0xFE, 1, 2, 3, 4, 5}, fails(INVALID_STORED_BLOCK)},
        {"non-final block at the end of the span", {0x00, 0x00, 0x00, 0xFF, 0xFF}, fails(UNEXPECTED_END)},
        {"block type 3, non-final", {0x06}, fails(INVALID_BLOCK_TYPE)},
        {"block type 3 after a stored block", BitWriter().storedBlock(false, text("ok")).blockHeader(true, 3).data(),
         fails(INVALID_BLOCK_TYPE)},
        {"fixed, ends on a byte boundary", exact, ok(Bytes{0x90, 0x91, 0x92, 0x93, 0x94, 0x95}, 8)},
        {"copy before any output", fixed([](BlockBody& b) { b.copy(3, 1); }), fails(INVALID_DISTANCE)},
        whole("distance equal to the output", fixed([](BlockBody& b) { b.text("abc").copy(5, 3); }), "abcabcab"),
        {"distance one past the output", fixed([](BlockBody& b) { b.text("abc").copy(5, 4); }),
         fails(INVALID_DISTANCE)},
        whole("overlapping copy, distance 2", fixed([](BlockBody& b) { b.text("ab").copy(7, 2); }), "ababababa"),
        whole("length 258 by symbol 285 and by 284 + 31", fixed([](BlockBody& b) {
                  b.text("z").lengthCode(285, 0).distanceCode(0, 0).lengthCode(284, 31).distanceCode(0, 0);
              }),
              std::string(517, 'z')),
        whole("copy into an earlier fixed block", acrossBlocks.data(), "abcabcabc"),
        whole("copy into an earlier stored block", fromStored.data(), "hellohello!"),
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
    BitWriter good;
    good.bits(0x78, 8).bits(0x01, 8).storedBlock(false, text("abc"));
    fixedBlock(good, false).text("de").end();
    BitWriter failsLater = good;
    failsLater.blockHeader(true, 3);
    fixedBlock(good, true).copy(4, 5).end();
    BitWriter reachesBack;  // the stream's own output is empty, so even distance 1 reaches too far
    fixedBlock(reachesBack.bits(0x78, 8).bits(0x01, 8), true).copy(3, 1).end();
    const size_t goodSize = good.data().size() + 4;  // the trailer counts, unread

    const std::tuple<BitWriter*, Outcome, const char*> cases[] = {
        {&good, ok("okabcdeabcd", goodSize), " +2,5 +5,7 +7,11"},
        {&failsLater, Outcome{text("ok"), 0, INVALID_BLOCK_TYPE}, " +2,5 +5,7 cut 2"},
        {&reachesBack, Outcome{text("ok"), 0, INVALID_DISTANCE}, " cut 2"},
    };
    for (const auto& [stream, expected, calls] : cases) {
        RecordingWatcher watcher;
        EXPECT_EQ(inflateAppend(text("ok"), stream->bytes(Bytes(40, 0)).data(), GetParam(), &watcher), expected);
        EXPECT_EQ(watcher.calls, calls);
    }
}

KORVANE_ALL_PATHS(ZlibStream);

}  // namespace
}  // namespace korvane::test
