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
    for (const bool heavy : {true, false}) {
        const tessel::Bytes stream = tessel::zlibCompress(heavy ? letters : text);
        const std::vector<tessel::Bytes> streams(4, stream);
        (void)takeFastLoopCounts();
        ASSERT_TRUE(scanContainer(tessel::makeContainer(streams)).has_value());
        const FastLoopCounts counts = takeFastLoopCounts();
        // Stream 3 runs alongside stream 2: some half of the literals.
        const uint64_t literals = counts.bytes - counts.copied;
        EXPECT_TRUE(heavy ? counts.pairedLiterals > literals / 4 : counts.pairedLiterals == 0)
            << counts.pairedLiterals << " of " << literals << " literals";
    }
}

}  // namespace
}  // namespace korvane
