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

TEST_P(FixedBlock, WorkedExamples) {
    EXPECT_EQ(inflateZlib({0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62}, path()), ok("a", 9));
    EXPECT_EQ(inflateZlib({0x78, 0x9C, 0x4B, 0x4C, 0x84, 0x01, 0x00, 0x14, 0xE1, 0x03, 0xCB}, path()),
              ok(std::string(10, 'a'), 11));
    expectRaw({0x03, 0x00}, path(), ok(Bytes{}, 2));

    // The writer produces the same bytes from the symbols, which vouches for the
    // hand-made streams below.
    BitWriter one;
    fixedBlock(one, true).text("a").end();
    EXPECT_EQ(one.data(), (Bytes{0x4B, 0x04, 0x00}));
    BitWriter ten;
    fixedBlock(ten, true).text("aa").copy(8, 1).end();
    EXPECT_EQ(ten.data(), (Bytes{0x4B, 0x4C, 0x84, 0x01, 0x00}));
}

// A final fixed block whose body `write` fills; the end-of-block code is added.
template <class Body>
Bytes fixed(Body write) {
    BitWriter w;
    BlockBody body = fixedBlock(w, true);
    write(body);
    body.end();
    return w.data();
}

// Like fixed(), but without the end code: the span ends with the byte that holds the last bit written.
template <class Body>
Bytes fixedCut(Body write) {
    BitWriter w;
    BlockBody body = fixedBlock(w, true);
    write(body);
    return w.data();
}

TEST_P(FixedBlock, CopiesAndTheirChecks) {
    Bytes hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back(static_cast<uint8_t>(i * 7));
    auto literals = [&](BlockBody& b) {
        for (uint8_t v : hundred) b.literal(v);
    };
    Bytes hundredPlus = hundred;
    hundredPlus.insert(hundredPlus.end(), hundred.begin(), hundred.begin() + 10);

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
        whole("distance 100 with extra bits", fixed([&](BlockBody& b) {
                  literals(b);
                  b.copy(10, 100);
              }),
              hundredPlus),
        {"distance 101 with extra bits", fixed([&](BlockBody& b) {
             literals(b);
             b.copy(10, 101);
         }),
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
         fixedCut([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 30); }),
         fails(INVALID_DISTANCE_CODE)},
        {"distance symbol 31",
         fixedCut([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 31); }),
         fails(INVALID_DISTANCE_CODE)},
        // 3 + 9 + 8 bits: four bits are left for the five extra bits of symbol 284.
        {"length extra bits past the span", fixedCut([](BlockBody& b) { b.literal(200).literal(284); }),
         fails(UNEXPECTED_END)},
        // 3 + 24 + 7 + 5 bits: one bit is left for the thirteen extra bits of symbol 29.
        {"distance extra bits past the span",
         fixedCut([](BlockBody& b) { b.text("abc").lengthCode(257, 0).distances.write(b.w, 29); }),
         fails(UNEXPECTED_END)},
        // 3 + 9 + 7 + 1 bits: four bits are left for a 5-bit distance code.
        {"distance code past the span", fixedCut([](BlockBody& b) { b.literal(200).lengthCode(265, 1); }),
         fails(UNEXPECTED_END)},
        {"no end-of-block code", fixedCut([](BlockBody& b) { b.text("abcdef"); }), fails(UNEXPECTED_END)},
        {"literal code cut", Bytes{0x4B}, fails(UNEXPECTED_END)},
    };
    expectCases(cases, path());
}

TEST_P(FixedBlock, CopyPatternsOfEveryShape) {
    // Short, word-sized and long copies at distances below, at and above the
    // length, each against zlib's reading of the same stream.
    BitWriter w;
    BlockBody body = fixedBlock(w, true);
    for (int i = 0; i < 40; ++i) body.literal(i * 5 + 1);
    const int lengths[] = {3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 64, 257, 258};
    const int distances[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33};
    for (int d : distances)
        for (int l : lengths) body.copy(l, d).literal((d + l) % 256);
    body.end();
    expectRaw(w.data(), path(), ok(zlibInflateRaw(w.data()), w.data().size()));
}

TEST_P(FixedBlock, EveryLengthAndDistance) {
    // 32768 literals of noise, then every distance 1..32768 and every length 3..258.
    std::mt19937 rng(1951);
    BitWriter w;
    BlockBody body = fixedBlock(w, false);
    for (int i = 0; i < 32768; ++i) body.literal(static_cast<int>(rng() % 256));
    for (int d = 1; d <= 32768; ++d) body.copy(3 + d % 7, d);
    body.end();
    BlockBody second = fixedBlock(w, true);  // a second block reuses the same fixed code
    for (int l = 3; l <= 258; ++l) second.copy(l, 32768 - l);
    second.end();
    const Bytes expected = zlibInflateRaw(w.data());
    ASSERT_GT(expected.size(), 32768U + 3 * 32768U);
    EXPECT_EQ(inflateRaw(w.data(), path()), ok(expected, w.data().size()));
}

KORVANE_BOTH_PATHS(FixedBlock);

}  // namespace
}  // namespace korvane::test
