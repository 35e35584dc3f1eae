// Fixed-code blocks and the symbol loop: literals, copies, the failure of every
// length/distance step and the order in which they are checked.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

using FixedBlock = PathTest;

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

TEST_P(FixedBlock, WorkedExamples) {
    EXPECT_EQ(inflateZlib({0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62}, path()), ok("a", 9));
    EXPECT_EQ(inflateZlib({0x78, 0x9C, 0x4B, 0x4C, 0x84, 0x01, 0x00, 0x14, 0xE1, 0x03, 0xCB}, path()),
              ok(std::string(10, 'a'), 11));
    expectRaw({0x03, 0x00}, path(), ok(Bytes{}, 2));
    // The writer produces the same bytes from the symbols, which vouches for the
    // hand-made streams below.
    EXPECT_EQ(fixed([](BlockBody& b) { b.text("a"); }), (Bytes{0x4B, 0x04, 0x00}));
    EXPECT_EQ(fixed([](BlockBody& b) { b.text("aa").copy(8, 1); }), (Bytes{0x4B, 0x4C, 0x84, 0x01, 0x00}));
}

TEST_P(FixedBlock, CopiesAndTheirChecks) {
    BitWriter acrossBlocks;
    fixedBlock(acrossBlocks, false).text("abc").end();
    fixedBlock(acrossBlocks, true).copy(6, 3).end();
    BitWriter fromStored;
    fromStored.storedBlock(false, {'h', 'e', 'l', 'l', 'o'});
    fixedBlock(fromStored, true).copy(5, 5).text("!").end();

    const std::vector<StreamCase> cases = {
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
        {"length symbol 287", fixed([](BlockBody& b) { b.text("a").literal(287); }), fails(INVALID_LENGTH_CODE)},
        // The span ends with the distance code: the check comes before extra bits would be read.
        {"distance symbol 30",
         fixed([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 30); }, true),
         fails(INVALID_DISTANCE_CODE)},
        {"distance symbol 31",
         fixed([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 31); }, true),
         fails(INVALID_DISTANCE_CODE)},
    };
    expectCases(cases, path());
}

TEST_P(FixedBlock, CopiesAgainstZlib) {
    // 32768 literals of noise, every distance 1..32768, every length 3..258
    // in a second block (which reuses the fixed code), then short, word-sized
    // and long copies at distances below, at and above the length.
    std::mt19937 rng(1951);
    BitWriter w;
    BlockBody body = fixedBlock(w, false);
    for (int i = 0; i < 32768; ++i) body.literal(static_cast<int>(rng() % 256));
    for (int d = 1; d <= 32768; ++d) body.copy(3 + d % 7, d);
    body.end();
    BlockBody second = fixedBlock(w, true);
    for (int l = 3; l <= 258; ++l) second.copy(l, 32768 - l);
    for (int d : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33})
        for (int l : {3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 64, 257, 258}) second.copy(l, d).literal((d + l) % 256);
    second.end();
    const Bytes expected = zlibInflateRaw(w.data());
    ASSERT_GT(expected.size(), 32768U + 3 * 32768U);
    EXPECT_EQ(inflateRaw(w.data(), path()), ok(expected, w.data().size()));
}

KORVANE_ALL_PATHS(FixedBlock);

}  // namespace
}  // namespace korvane::test
