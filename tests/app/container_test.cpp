// The container walk guesses each next block by its magic, and on
// literal-heavy streams the decoder takes the guesses up (whether its output
// is right, the CLI tests say).

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "container.hpp"
#include "fast_inflate.hpp"
#include "tessel_writer.hpp"

namespace korvane {
namespace {

TEST(Container, DecodesAheadAfterLiteralHeavyStreamsOnly) {
    std::mt19937 random(7);
    tessel::Bytes letters(100000), text;
    for (uint8_t& letter : letters) letter = static_cast<uint8_t>('a' + random() % 16);            // 4.5 bits a byte
    while (text.size() < 100000) text.insert(text.end(), letters.begin(), letters.begin() + 300);  // 0.1 bits
    const tessel::Bytes heavy = tessel::zlibCompress(letters), light = tessel::zlibCompress(text),
                        stored = tessel::zlibCompress(letters, {.level = 0});
    struct Case {
        const char* name;
        std::vector<tessel::Bytes> streams;
        bool paired;
    };
    // A stream runs alongside the one before it only if the one before that
    // was literal-heavy; a stored stream has no literals to count.
    for (const auto& [name, streams, paired] : {Case{"literal-heavy", {heavy, heavy, heavy, heavy}, true},
                                                Case{"copy-heavy", {light, light, light, light}, false},
                                                Case{"after a stored stream", {stored, heavy, heavy}, false}}) {
        (void)takeFastLoopCounts();
        ASSERT_TRUE(scanContainer(tessel::makeContainer(streams)).has_value()) << name;
        const FastLoopCounts counts = takeFastLoopCounts();
        const uint64_t literals = counts.bytes - counts.copied;
        EXPECT_TRUE(paired ? counts.pairedLiterals > literals / 4 : counts.pairedLiterals == 0)
            << name << ": " << counts.pairedLiterals << " of " << literals << " literals";
    }
}

}  // namespace
}  // namespace korvane
