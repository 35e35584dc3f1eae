// Dynamic code tables: reading the code-length code and the run-length-coded
// lengths, and decoding blocks whose codes are unusual but accepted.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_support.hpp"
#include "dynamic_tables.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

std::vector<int> rep(size_t count, int value) { return std::vector<int>(count, value); }
std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Writes bits given in arrival order as a string of '0' and '1' (spaces group codes).
void arrival(BitWriter& w, const std::string& bits) {
    for (char c : bits)
        if (c != ' ') w.bits(c == '1' ? 1U : 0U, 1);
}

const std::vector<int> ALL_FIVE(19, 5);  // a code-length code in which every symbol has a 5-bit code

TEST(DynamicTables, WorkedExample) {
    const Bytes zlib = {0x78, 0x01, 0x05, 0xC1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x80, 0x90, 0xAD,
                        0xFA, 0x3F, 0x22, 0x00, 0x00, 0xA0, 0x01, 0x57, 0x9D, 0x07, 0xF7};
    const Outcome expected = ok(std::string(20, 'a') + "b", 23);
    EXPECT_EQ(inflateZlib(zlib, DecodePath::Fast), expected);
    EXPECT_EQ(inflateZlib(zlib, DecodePath::Literal), expected);

    // The writer gives the same bytes from the described header and symbols.
    BitWriter w;
    dynamicHeader(w, true, 257, 2, 18, lengthsFor(19, {{1, 1}, {2, 2}, {18, 2}}),
                  {{18, 86}, {1}, {2}, {18, 127}, {18, 8}, {2}, {1}, {1}});
    const Code literals(lengthsFor(257, {{'a', 1}, {'b', 2}, {256, 2}}));
    const Code distances({1, 1});
    BlockBody{w, literals, distances}.text("aaaaaaaaaaaaaaaaaaaab").end();
    EXPECT_EQ(w.data(), Bytes(zlib.begin() + 2, zlib.end() - 4));
}

TEST(DynamicTables, LengthRunsAndCounts) {
    struct Case {
        std::string name;
        int hlit, hdist, hclen;
        std::vector<int> codeLengthLengths;
        std::vector<LengthOp> ops;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"every run size; a 16 first repeats 0",
         257,
         5,
         19,
         ALL_FIVE,
         {{16, 0}, {8}, {16, 0}, {16, 3}, {17, 0}, {17, 7}, {18, 0}, {15}, {1}, {18, 127}, {18, 74}},
         rep(3, 0) + rep(10, 8) + rep(3 + 10 + 11, 0) + std::vector<int>{15, 1} + rep(138 + 85, 0)},
        {"a 16 crosses into the distance lengths",
         257,
         4,
         19,
         ALL_FIVE,
         {{18, 127}, {18, 107}, {7}, {16, 1}},
         rep(256, 0) + rep(5, 7)},
        {"an 18 overshoots by 128",
         257,
         1,
         19,
         ALL_FIVE,
         {{18, 127}, {18, 98}, {9}, {18, 127}},
         rep(247, 0) + std::vector<int>{9} + rep(10, 0)},
        {"HLIT 288 and HDIST 32; a 16 overshoots",
         288,
         32,
         19,
         ALL_FIVE,
         {{2}, {16, 3}, {18, 127}, {18, 127}, {17, 2}, {3}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {16, 3}, {16, 0}},
         rep(7, 2) + rep(281, 0) + rep(32, 3)},
        // Only the lengths of 16, 17, 18 and 0 are sent: 0 and 18 get 1-bit codes.
        {"HCLEN 4", 257, 1, 4, lengthsFor(19, {{0, 1}, {18, 1}}), {{18, 127}, {0}, {18, 107}, {0}}, rep(258, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitWriter w;
        dynamicHeader(w, true, c.hlit, c.hdist, c.hclen, c.codeLengthLengths, c.ops);
        const size_t headerBits = w.bitCount();
        w.bits(0xFFFF, 16);  // whatever follows must stay unread
        BitReader reader{w.data().data(), w.data().size(), 0, 3};
        DynamicLengths read;
        readDynamicLengths(reader, read);
        EXPECT_EQ(std::vector<int32_t>(read.lengths.begin(), read.lengths.begin() + static_cast<long>(read.count)),
                  std::vector<int32_t>(c.expected.begin(), c.expected.end()));
        EXPECT_EQ(read.litLenCount, c.hlit);
        EXPECT_EQ(read.distCount, c.hdist);
        EXPECT_EQ(reader.bytePos * 8 + static_cast<uint64_t>(reader.bitPos), headerBits);
    }
}

TEST(DynamicTables, NoCodeLengthCodeFailsAfterTheLastField) {
    for (int hclen : {4, 19}) {
        SCOPED_TRACE(hclen);
        BitWriter w;
        dynamicHeader(w, true, 257, 1, hclen, rep(19, 0), {});
        const size_t headerBits = w.bitCount();
        w.bits(0xFFFF, 16);
        BitReader reader{w.data().data(), w.data().size(), 0, 3};
        HuffmanTable literalTable;
        HuffmanTable distanceTable;
        try {
            readDynamicTables(reader, literalTable, distanceTable);
            ADD_FAILURE() << "no error";
        } catch (const DecodeError& e) {
            EXPECT_STREQ(e.what(), EMPTY_HUFFMAN_TREE);
        }
        EXPECT_EQ(reader.bytePos * 8 + static_cast<uint64_t>(reader.bitPos), headerBits);
    }
}

using DynamicBlock = PathTest;

// A final dynamic block that sends the given lengths plainly, then its body.
template <class Body>
Bytes dynamic(const std::vector<int>& literalLengths, const std::vector<int>& distanceLengths, Body write) {
    BitWriter w;
    dynamicHeader(w, true, literalLengths, distanceLengths);
    const Code literals(literalLengths);
    const Code distances(distanceLengths);
    BlockBody body{w, literals, distances};
    write(body);
    return w.data();
}

// A final dynamic block with an explicit header and a body of raw bits in arrival order.
Bytes dynamicRaw(int hlit, int hdist, int hclen, const std::vector<int>& codeLengthLengths,
                 const std::vector<LengthOp>& ops, const std::string& bits) {
    BitWriter w;
    dynamicHeader(w, true, hlit, hdist, hclen, codeLengthLengths, ops);
    arrival(w, bits);
    return w.data();
}

TEST_P(DynamicBlock, AcceptedOddities) {
    const auto wide = lengthsFor(288, {{'a', 2}, {'b', 2}, {256, 3}, {257, 3}, {286, 3}, {287, 3}});
    const auto wideDist = lengthsFor(32, {{0, 1}, {30, 2}, {31, 2}});
    const auto noDist = rep(1, 0);
    const auto withLength = lengthsFor(266, {{'a', 1}, {256, 2}, {265, 2}});
    // 'a' = 0, 256 = 10, 257 = 11: the lengths end with 2, 2 and a 16 that repeats 2 for three distances.
    const std::vector<LengthOp> crossing = {{18, 86}, {1}, {18, 127}, {18, 9}, {2}, {2}, {16, 0}};

    // The span ends right after the code of length symbol 265, before its extra bit.
    Bytes extraCut;
    for (int k = 1; k <= 8 && extraCut.empty(); ++k) {
        BitWriter w;
        dynamicHeader(w, true, withLength, noDist);
        const Code literals(withLength);
        const Code distances(noDist);
        BlockBody body{w, literals, distances};
        for (int i = 0; i < k; ++i) body.literal('a');
        body.literal(265);
        if (w.bitCount() % 8 == 0) extraCut = w.data();
    }
    ASSERT_FALSE(extraCut.empty());

    const std::vector<StreamCase> cases = {
        whole("HLIT 288, HDIST 32", dynamic(wide, wideDist, [](BlockBody& b) { b.text("ab").copy(3, 1).end(); }),
              "abbbb"),
        {"length symbol 286 used", dynamic(wide, wideDist, [](BlockBody& b) { b.text("a").literal(286); }),
         fails(INVALID_LENGTH_CODE)},
        {"length symbol 287 used", dynamic(wide, wideDist, [](BlockBody& b) { b.text("a").literal(287); }),
         fails(INVALID_LENGTH_CODE)},
        {"distance symbol 30 used",
         dynamic(wide, wideDist,
                 [](BlockBody& b) {
                     b.text("ab").lengthCode(257, 0).distanceCode(0, 0).lengthCode(257, 0).distances.write(b.w, 30);
                 }),
         fails(INVALID_DISTANCE_CODE)},
        {"distance symbol 31 used",
         dynamic(wide, wideDist, [](BlockBody& b) { b.text("ab").lengthCode(257, 0).distances.write(b.w, 31); }),
         fails(INVALID_DISTANCE_CODE)},
        // 4 zeros, then byte 4 gets the code 0 and the end code 10; 11 stays free,
        // which it would not be if the 16 had repeated anything but 0.
        whole("16 as the first code-length symbol",
              dynamicRaw(257, 1, 19, ALL_FIVE, {{16, 1}, {1}, {18, 127}, {18, 102}, {2}, {0}}, "0 0 0 10"),
              std::string(3, '\x04')),
        {"16 as the first code-length symbol, free pattern",
         dynamicRaw(257, 1, 19, ALL_FIVE, {{16, 1}, {1}, {18, 127}, {18, 102}, {2}, {0}}, "0 11000000 00000000"),
         fails(INVALID_HUFFMAN_CODE)},
        // Two distance lengths of 1 and a 16 that would add three more: kept, the
        // bit 0 is distance symbol 0; with the excess, symbol 2 or 3 would take it.
        whole(
            "16 overshooting the total",
            dynamicRaw(258, 2, 19, ALL_FIVE, {{18, 86}, {1}, {18, 127}, {18, 9}, {2}, {2}, {1}, {16, 0}}, "0 11 0 10"),
            "aaaa"),
        whole("18 overshooting the total",
              dynamicRaw(257, 10, 19, ALL_FIVE, {{18, 86}, {1}, {18, 127}, {18, 9}, {1}, {18, 127}}, "0 0 1"), "aa"),
        whole("16 crossing into the distance lengths", dynamicRaw(258, 3, 19, ALL_FIVE, crossing, "0 11 00 10"),
              "aaaa"),
        whole("no distance codes, literals only",
              dynamic(withLength, noDist, [](BlockBody& b) { b.text("aaa").end(); }), "aaa"),
        {"no distance codes, then a length symbol",
         dynamic(withLength, noDist, [](BlockBody& b) { b.text("a").lengthCode(265, 1).end(); }),
         fails(EMPTY_HUFFMAN_TREE)},
        {"no distance codes, length extra bit past the span", extraCut, fails(UNEXPECTED_END)},
        {"no code-length code", dynamicRaw(257, 1, 19, rep(19, 0), {}, ""), fails(EMPTY_HUFFMAN_TREE)},
        {"HCLEN 4 leaves no literal codes",
         dynamicRaw(257, 1, 4, lengthsFor(19, {{0, 1}, {18, 1}}), {{18, 127}, {0}, {18, 107}, {0}}, "0000"),
         fails(EMPTY_HUFFMAN_TREE)},
        {"no end-of-block code",
         dynamic(lengthsFor(257, {{'a', 1}, {'b', 1}}), rep(1, 0), [](BlockBody& b) { b.text("abab"); }),
         fails(UNEXPECTED_END)},
    };
    expectCases(cases, path());
}

TEST_P(DynamicBlock, OverSubscribedAndIncompleteCodes) {
    // 'a' 1 bit, 'b' 'c' and 256 2 bits: 256's code 100 keeps its low bits 00 and
    // takes slot 0 from 'a', which can never be decoded; 10 is 'b' and 11 is 'c'.
    const auto overLit = lengthsFor(257, {{'a', 1}, {'b', 2}, {'c', 2}, {256, 2}});
    auto rawBody = [](const std::vector<int>& lit, const std::vector<int>& dist, const std::string& bits) {
        BitWriter w;
        dynamicHeader(w, true, lit, dist);
        arrival(w, bits);
        return w.data();
    };
    // Distance lengths 1, 1, 1: the bit 0 is symbol 2 (distance 3), the bit 1 symbol 1 (distance 2).
    const auto copyLit = lengthsFor(258, {{'a', 2}, {'b', 2}, {'c', 3}, {256, 3}, {257, 2}});
    const Bytes overDist = dynamic(copyLit, {1, 1, 1}, [](BlockBody& b) {
        b.text("abc").literal(257);
        b.w.bits(0, 1);
        b.literal(257);
        b.w.bits(1, 1);
        b.end();
    });
    // Code-length code 1, 2 and 18 with 1 bit each: the bit 0 is 18, the bit 1 is 2 (the
    // writer's canonical codes come out as exactly those bits). Lengths: 'a' 'b' 256 and
    // distance 0 get 2, so 'a' = 00, 'b' = 01, 256 = 10.
    const Bytes overCodeLength = dynamicRaw(257, 1, 18, lengthsFor(19, {{1, 1}, {2, 1}, {18, 1}}),
                                            {{18, 86}, {2}, {2}, {18, 127}, {18, 8}, {2}, {2}}, "01 00 01 10");
    // 1..13 bits for 'a'..'m', 14 for length symbol 258, 15 for 256; one 15-bit pattern is free.
    std::vector<int> longLit = rep(259, 0);
    for (int i = 0; i < 13; ++i) longLit['a' + static_cast<size_t>(i)] = i + 1;
    longLit[258] = 14;
    longLit[256] = 15;

    const std::vector<StreamCase> cases = {
        whole("over-subscribed literal code", rawBody(overLit, {1}, "10 11 10 00"), "bcb"),
        {"over-subscribed literal code, dead pattern", rawBody(overLit, {1}, "01 00000000000000"),
         fails(INVALID_HUFFMAN_CODE)},
        whole("over-subscribed distance code", overDist, "abcabcbcb"),
        whole("over-subscribed code-length code", overCodeLength, "bab"),
        {"incomplete code-length code, free pattern",
         dynamicRaw(257, 1, 4, lengthsFor(19, {{18, 1}}), {}, "1 000000000000000"), fails(INVALID_HUFFMAN_CODE)},
        {"incomplete 15-bit literal code, free pattern", rawBody(longLit, {1}, "1111111111111111"),
         fails(INVALID_HUFFMAN_CODE)},
        {"incomplete 15-bit literal code, span ends", rawBody(longLit, {1}, "11111111"), fails(UNEXPECTED_END)},
    };
    expectCases(cases, path());
}

TEST_P(DynamicBlock, LongCodesAgainstZlib) {
    // A complete literal code with lengths 1 to 15 and a complete distance code
    // with lengths 1 to 15; every long code is used, checked against zlib.
    std::vector<int> lit = rep(259, 0);
    for (int i = 0; i < 13; ++i) lit['a' + static_cast<size_t>(i)] = i + 1;
    lit[258] = 14;
    lit['z'] = 15;
    lit[256] = 15;
    std::vector<int> dist = rep(16, 15);
    for (int i = 0; i < 14; ++i) dist[static_cast<size_t>(i)] = i + 1;
    const Bytes stream = dynamic(lit, dist, [](BlockBody& b) {
        for (int i = 0; i < 300; ++i) b.literal('a' + (i * 5) % 13);
        for (int d = 0; d < 16; ++d) b.lengthCode(258, 0).distanceCode(d, static_cast<uint32_t>(d) % 2).literal('z');
        b.end();
    });
    expectRaw(stream, path(), ok(zlibInflateRaw(stream), stream.size()));
}

TEST_P(DynamicBlock, EachBlockHasItsOwnTables) {
    // The same bits mean 'a' in the first block and 'b' in the second; the
    // second block's copy reaches back into the first.
    BitWriter w;
    const auto lit1 = lengthsFor(257, {{'a', 1}, {256, 1}});
    dynamicHeader(w, false, lit1, rep(1, 0));
    const Code literals1(lit1);
    const Code distances1(rep(1, 0));
    BlockBody{w, literals1, distances1}.text("aaa").end();
    const auto lit2 = lengthsFor(258, {{'b', 1}, {256, 2}, {257, 2}});
    const auto dist2 = lengthsFor(4, {{3, 1}});
    dynamicHeader(w, true, lit2, dist2);
    const Code literals2(lit2);
    const Code distances2(dist2);
    BlockBody{w, literals2, distances2}.text("b").copy(3, 4).end();
    expectRaw(w.data(), path(), ok("aaabaaa", w.data().size()));
}

KORVANE_BOTH_PATHS(DynamicBlock);

}  // namespace
}  // namespace korvane::test
