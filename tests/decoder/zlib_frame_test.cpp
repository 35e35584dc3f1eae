// zlib header checks, the block loop, stored blocks and consumed counts, and
// zlibDecompressAppend.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_support.hpp"

namespace korvane::test {
namespace {

using namespace deflate_writer;

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

using ZlibFrame = PathTest;

TEST_P(ZlibFrame, HeaderChecksInOrder) {
    const Bytes emptyFixed = {0x03, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};  // final fixed block, end code only, trailer
    const std::vector<StreamCase> cases = {
        {"empty span", {}, fails(DATA_TOO_SMALL)},
        {"five bytes, bad method too", {0x79, 0x9C, 0x03, 0x00, 0x00}, fails(DATA_TOO_SMALL)},
        // The trailer is counted even when the span ends before it.
        {"six bytes", {0x78, 0x01, 0x03, 0x00, 0x00, 0x00}, ok(Bytes{}, 8)},
        {"78 9C", cat({0x78, 0x9C}, emptyFixed), ok(Bytes{}, 8)},
        {"78 DA", cat({0x78, 0xDA}, emptyFixed), ok(Bytes{}, 8)},
        {"08 1D: window size not examined", cat({0x08, 0x1D}, emptyFixed), ok(Bytes{}, 8)},
        {"79 9C: method before checksum", cat({0x79, 0x9C}, emptyFixed), fails(UNSUPPORTED_METHOD)},
        {"77 09: method 7, valid checksum", cat({0x77, 0x09}, emptyFixed), fails(UNSUPPORTED_METHOD)},
        {"78 9D", cat({0x78, 0x9D}, emptyFixed), fails(BAD_HEADER_CHECKSUM)},
        {"78 BC: checksum before dictionary flag", cat({0x78, 0xBC}, emptyFixed), fails(BAD_HEADER_CHECKSUM)},
        {"78 BB", cat({0x78, 0xBB}, emptyFixed), fails(PRESET_DICTIONARY)},
        {"header passes, block type 3", {0x78, 0x01, 0x07, 0x00, 0x00, 0x00}, fails(INVALID_BLOCK_TYPE)},
    };
    for (const StreamCase& c : cases) EXPECT_EQ(inflateZlib(c.stream, path()), c.expected) << c.name;
}

TEST_P(ZlibFrame, StoredBlockWorkedExample) {
    const Bytes payload = text("Korvane!");
    const Bytes deflate = cat({0x01, 0x08, 0x00, 0xF7, 0xFF}, payload);
    expectRaw(deflate, path(), ok(payload, 13));
    EXPECT_EQ(inflateZlib(cat(cat({0x78, 0x01}, deflate), {0x0B, 0x5D, 0x02, 0xD6}), path()), ok(payload, 19));
}

TEST_P(ZlibFrame, BlockLoopAndStoredBlocks) {
    BitWriter afterFixed;  // a fixed block leaves 6 bits of its last byte; they are skipped even if set
    fixedBlock(afterFixed, false).text("xy").end();
    afterFixed.blockHeader(true, 0);
    while (afterFixed.bitCount() % 8 != 0) afterFixed.bits(1, 1);
    afterFixed.bits(1, 16).bits(0xFFFE, 16).bytes(text("z"));
    // Six 9-bit literals fill the block exactly to a byte boundary: 3 + 54 + 7 bits.
    BitWriter exact;
    fixedBlock(exact, true).literal(0x90).literal(0x91).literal(0x92).literal(0x93).literal(0x94).literal(0x95).end();
    ASSERT_EQ(exact.bitCount(), 64U);
    BitWriter partial;  // 3 + 8 + 7 bits: the third byte is partly used and counts
    fixedBlock(partial, true).text("a").end();

    const std::vector<StreamCase> cases = {
        {"final, LEN 0", {0x01, 0x00, 0x00, 0xFF, 0xFF}, ok(Bytes{}, 5)},
        {"after a fixed block", afterFixed.data(), ok("xyz", afterFixed.data().size())},
        {"LEN past the span", {0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61, 0x62}, fails(UNEXPECTED_END)},
        {"NLEN not the complement", {0x01, 0x05, 0x00, 0xFA, 0xFE, 1, 2, 3, 4, 5}, fails(INVALID_STORED_BLOCK)},
        {"non-final block at the end of the span", {0x00, 0x00, 0x00, 0xFF, 0xFF}, fails(UNEXPECTED_END)},
        {"ends on a byte boundary", exact.data(), ok(Bytes{0x90, 0x91, 0x92, 0x93, 0x94, 0x95}, 8)},
        {"ends inside a byte", partial.data(), ok("a", 3)},
        {"block type 3, non-final", {0x06}, fails(INVALID_BLOCK_TYPE)},
        {"block type 3 after a stored block", BitWriter().storedBlock(false, text("ok")).blockHeader(true, 3).data(),
         fails(INVALID_BLOCK_TYPE)},
    };
    expectCases(cases, path());
}

TEST_P(ZlibFrame, AppendKeepsEarlierContentOutOfReach) {
    const Bytes prefix = text("prefix");
    auto appendTo = [&](const BitWriter& w) {
        // A zlib frame (the trailer is not checked), then room for the fast path.
        return inflateAppend(prefix, cat(cat({0x78, 0x01}, w.data()), Bytes(4 + 32, 0)), path());
    };
    BitWriter good;
    fixedBlock(good, true).text("ab").copy(4, 2).end();
    EXPECT_EQ(appendTo(good), ok("prefixababab", good.data().size() + 6));

    // The stream's own output is empty, so even distance 1 reaches too far; the
    // buffer is cut back to what it held.
    BitWriter reachesBack;
    fixedBlock(reachesBack, true).copy(3, 1).end();
    EXPECT_EQ(appendTo(reachesBack), (Outcome{prefix, 0, INVALID_DISTANCE}));
    BitWriter failsLater;
    failsLater.storedBlock(false, text("abc")).blockHeader(true, 3);
    EXPECT_EQ(appendTo(failsLater), (Outcome{prefix, 0, INVALID_BLOCK_TYPE}));
}

// Records what a watcher is told: "+from,size" per block, "cut size" on failure.
struct RecordingWatcher final : OutputWatcher {
    std::vector<std::string> calls;
    void appended(const uint8_t*, size_t from, size_t size) override {
        calls.push_back("+" + std::to_string(from) + "," + std::to_string(size));
    }
    void cutBack(size_t size) override { calls.push_back("cut " + std::to_string(size)); }
};

TEST_P(ZlibFrame, WatcherIsShownEachBlockAndTheCut) {
    BitWriter w;
    w.bits(0x78, 8).bits(0x01, 8).storedBlock(false, text("abc"));
    fixedBlock(w, false).text("de").end();
    BitWriter failing = w;
    fixedBlock(w, true).copy(4, 5).end();
    failing.blockHeader(true, 3);
    for (BitWriter* stream : {&w, &failing}) stream->bytes(Bytes(40, 0));
    for (const auto& [stream, calls] :
         {std::pair{w.data(), "+2,5 +5,7 +7,11"}, std::pair{failing.data(), "+2,5 +5,7 cut 2"}}) {
        ByteBuffer out(text("ok").data(), 2);
        RecordingWatcher watcher;
        try {
            testing::zlibDecompressAppend(stream.data(), stream.size(), out, path(), &watcher);
        } catch (const DecodeError&) {}
        std::string seen;
        for (const std::string& call : watcher.calls) seen += (seen.empty() ? "" : " ") + call;
        EXPECT_EQ(seen, calls);
    }
}

KORVANE_ALL_PATHS(ZlibFrame);

}  // namespace
}  // namespace korvane::test
