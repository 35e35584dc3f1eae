// Inputs that cannot be read, outputs that cannot be written, memory that runs out.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <utility>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

namespace fs = std::filesystem;

// Permission checks mean nothing to root, so as root the child runs as
// nobody; a wrapper such as wine cannot be started that way.
bool permissionsApply() { return geteuid() != 0 || testWrapper().empty(); }
RunOptions asUnprivileged() { return {.asNobody = geteuid() == 0}; }

// A stream that decodes to `size` zero bytes: one fixed-code block of a
// literal and copies of 258 at distance 1, 13 bits each.
Bytes zeroBomb(uint64_t size) {
    Bytes stream = {0x78, 0x01};
    uint64_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t value, int length) {  // codes, most significant bit first
        for (int i = length - 1; i >= 0; --i) {
            bits |= uint64_t{(value >> i) & 1U} << count;
            if (++count == 8) {
                stream.push_back(static_cast<uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    };
    put(0b110, 3);       // BFINAL 1, then BTYPE 1 least significant bit first
    put(0b00110000, 8);  // literal 0
    for (uint64_t done = 1; done + 258 <= size; done += 258) put(0b11000101, 8), put(0, 5);  // 258, distance 1
    put(0, 7);                                                                               // end of block
    put(0, 7);
    stream.insert(stream.end(), 4, 0);
    return join({tessel::blockHeader(1), stream});
}

// Memory that runs out, here under an address-space limit, ends the run with
// a line that says so, and nothing is written.
TEST_F(CliTest, RunningOutOfMemoryIsExplained) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    if (!testWrapper().empty()) GTEST_SKIP() << "the limit would apply to the wrapper";
    constexpr uint64_t LIMIT = uint64_t{64} << 20;
    const RunOptions limited{.addressSpaceLimit = LIMIT};

    const Bytes bomb = zeroBomb(2 * LIMIT);
    put("bomb.tessel", bomb);
    const RunResult result = run({"bomb.tessel"}, limited);
    EXPECT_EQ(result.out, reportStart("bomb.tessel", "bomb.png", bomb.size()));
    std::smatch decoded;
    ASSERT_TRUE(std::regex_match(
        result.err, decoded, std::regex("Decompression error in block 1: out of memory after (\\d+) decoded bytes\n")))
        << result.err;
    EXPECT_GT(std::stoull(decoded[1]), LIMIT / 4);
    EXPECT_LT(std::stoull(decoded[1]), LIMIT);
    EXPECT_EQ(result.status, 1);

    // A file larger than the limit, which takes no disk as a sparse file.
    fs::resize_file(path("bomb.tessel"), LIMIT * 2);
    expectRun({"bomb.tessel"}, reportStart("bomb.tessel", "bomb.png"),
              "Not enough memory to read file: bomb.tessel (" + std::to_string(LIMIT * 2) + " bytes)\n", 1,
              {"bomb.tessel"}, limited);
}

// sysfs reports 4096 bytes for a file that holds a few: the read comes up short.
TEST_F(CliTest, InputShorterThanItsSizeFailsToRead) {
    const std::string input = "/sys/devices/system/cpu/online";
    if (!fs::exists(input)) GTEST_SKIP() << "no " << input;
    expectRun({input, "out.png"}, reportStart(input, "out.png"), "Error reading file: " + input + "\n", 1, {});
}

TEST_F(CliTest, UnreadableInputFailsToOpen) {
    if (!permissionsApply()) GTEST_SKIP() << "needs a run as nobody, which a wrapper cannot do";
    put("locked.tessel", exampleContainer());
    fs::permissions(path("locked.tessel"), fs::perms::none);
    fs::permissions(dir_, fs::perms::all);  // the output could be created, but must not be
    expectRun({"locked.tessel"}, reportStart("locked.tessel", "locked.png"), "Could not open file: locked.tessel\n", 1,
              {"locked.tessel"}, asUnprivileged());
}

TEST_F(CliTest, OutputInReadOnlyDirectoryCannotBeCreated) {
    if (!permissionsApply()) GTEST_SKIP() << "needs a run as nobody, which a wrapper cannot do";
    put("in.tessel", exampleContainer());
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    expectRun({"in.tessel"}, reportStart("in.tessel", "in.png", 51) + EXAMPLE_REPORT, "Could not create file: in.png\n",
              1, {"in.tessel"}, asUnprivileged());
}

// /dev/full opens fine and fails every write. The 8 bytes would sit in a
// stream buffer until the close, so this fails only if the write reaches the
// system at once; the failed write adds no message.
TEST_F(CliTest, FailedWriteEndsWithStatusOneAndNoMessage) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    put("in.tessel", exampleContainer());
    expectRun({"in.tessel", "/dev/full"}, reportStart("in.tessel", "/dev/full", 51) + EXAMPLE_REPORT, "", 1,
              {"in.tessel"});
}

}  // namespace
}  // namespace clitest
