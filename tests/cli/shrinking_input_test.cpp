// An input file that shrinks while Korvane decodes it: the lost bytes must
// neither crash Korvane nor reach an output file, and the run ends with the
// file's error alone.

#include <unistd.h>

#include <string>
#include <vector>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

// Korvane stalls on its report, blocks before the cut, while the test cuts the
// file at a page boundary where a block's stream starts: that stream reads as
// zeros, which do not decode.
TEST_F(CliTest, InputThatShrinksWhileDecodingFailsToRead) {
#ifndef KORVANE_LINUX_PLATFORM
    GTEST_SKIP() << "this build reads its input instead of mapping it";
#endif
    if (korvaneExe().extension() == ".exe") GTEST_SKIP() << "the Windows build reads its input";
    constexpr size_t BLOCKS = 20000, KEPT = 8191;  // a 96-byte block, then 64-byte ones: 8192's stream is at 512 KiB
    std::vector<Bytes> streams(BLOCKS, tessel::zlibCompress(Bytes(21, 'k'), {.level = 0}));  // 2 + 5 + 21 + 4 bytes
    streams[0] = tessel::zlibCompress(Bytes(53, 'k'), {.level = 0});
    put("in.tessel", tessel::makeContainer(streams));
    std::vector<size_t> sizes(KEPT, 21);
    sizes[0] = 53;
    const std::string lines = decodedLines(sizes, {});  // without the totals: the walk stops at block 8192
    const auto cut = [this](const std::string& out) {
        return out.find("File size") != std::string::npos && truncate(path("in.tessel").c_str(), 512 << 10) == 0;
    };
    expectRun({"in.tessel", "out.png"},
              reportStart("in.tessel", "out.png", 96 + (BLOCKS - 1) * 64) + lines.substr(0, lines.find("\nTotal")),
              "Error reading file: in.tessel\n", 1, {"in.tessel"}, {.onOutput = cut});
}

}  // namespace
}  // namespace clitest
