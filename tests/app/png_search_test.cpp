// The PNG signature search fed with growing prefixes of the joined bytes, as
// the decoder feeds it, against a plain search of the whole; and cut back.

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "png_search.hpp"

namespace korvane {
namespace {

const std::string SIG(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));

const uint8_t* bytesOf(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// Feeds bytes[0, cut) for each cut in turn, then the whole.
std::optional<size_t> fedSearch(const std::string& bytes, const std::vector<size_t>& cuts) {
    PngSignatureSearch search;
    size_t from = 0;
    for (const size_t cut : cuts) search.appended(bytesOf(bytes), std::exchange(from, cut), cut);
    search.appended(bytesOf(bytes), from, bytes.size());
    return search.found();
}

TEST(PngSignatureSearch, AnyFeedingFindsWhatAPlainSearchFinds) {
    const std::string cases[] = {
        "",
        SIG.substr(0, 7),
        SIG,
        "ab" + SIG,
        "ab" + SIG + "cd" + SIG,
        "\x89\x89PN\x89PNG\r\n\x1A" + SIG + "x",
        "ab" + SIG.substr(0, 7) + "\x0B" + "cd",
        std::string(20, '\x89') + SIG + std::string(3, '\x89'),
        "text\x89PNG\r\n\x1A" + std::string(9, 'z') + SIG.substr(1) + SIG,
        std::string(300, '\x89') + SIG,
    };
    for (const std::string& bytes : cases) {
        const size_t at = bytes.find(SIG);
        const std::optional<size_t> expected = at == std::string::npos ? std::nullopt : std::optional<size_t>(at);
        // Every single cut and every pair of cuts, including repeats and empty prefixes.
        for (size_t a = 0; a <= bytes.size(); ++a) {
            ASSERT_EQ(fedSearch(bytes, {a}), expected) << "cut at " << a << " of " << bytes.size();
            for (size_t b = a; b <= bytes.size(); ++b)
                ASSERT_EQ(fedSearch(bytes, {a, a, b}), expected) << "cuts at " << a << ", " << b;
        }
    }
}

// A cut that leaves the signature whole keeps it, one that cuts into it does not.
TEST(PngSignatureSearch, KeepsTheFirstSignatureUntilItIsCut) {
    const std::string bytes = "x" + SIG + "y" + SIG;
    PngSignatureSearch search;
    search.appended(bytesOf(bytes), 0, 12);
    search.cutBack(9);
    EXPECT_EQ(search.found(), std::optional<size_t>(1));
    search.cutBack(8);
    EXPECT_EQ(search.found(), std::nullopt);
    const std::string regrown = bytes.substr(0, 8) + "zz" + SIG;  // the signature's first 7 bytes, then others
    search.appended(bytesOf(regrown), 8, regrown.size());
    EXPECT_EQ(search.found(), std::optional<size_t>(10));
}

}  // namespace
}  // namespace korvane
