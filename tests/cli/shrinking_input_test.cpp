// An input file that shrinks while Korvane decodes it: the lost bytes must
// neither crash Korvane nor reach an output file, and the run ends with the
// file's error alone.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

// Korvane's report goes into a one-page pipe that the test stops reading
// after the file size line, so Korvane soon stalls, blocks before the cut:
// the file is cut there, at a page boundary where a block's stream starts,
// and the rest of the report read. That stream reads as zeros, which do not
// decode.
TEST_F(CliTest, InputThatShrinksWhileDecodingFailsToRead) {
#ifndef KORVANE_LINUX_PLATFORM
    GTEST_SKIP() << "this build reads its input instead of mapping it";
#endif
    if (korvaneExe().extension() == ".exe") GTEST_SKIP() << "the Windows build reads its input";
    constexpr size_t BLOCKS = 20000;
    constexpr size_t KEPT = 8191;  // a 96-byte block, then 64-byte ones: block 8192's stream starts at 512 KiB
    std::vector<Bytes> streams(BLOCKS, tessel::zlibCompress(Bytes(21, 'k'), {.level = 0}));  // 2 + 5 + 21 + 4 bytes
    streams[0] = tessel::zlibCompress(Bytes(53, 'k'), {.level = 0});
    const Bytes container = tessel::makeContainer(streams);
    ASSERT_EQ(container.size(), 96 + (BLOCKS - 1) * 64);
    put("in.tessel", container);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fcntl(out[0], F_SETPIPE_SZ, 4096);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, path("err").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string input = path("in.tessel").string(), output = path("out.png");
    std::vector<std::string> words = testWrapper();  // an emulator, if any
    words.insert(words.end(), {korvaneExe().string(), input, output});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    std::string report;
    auto readMore = [&report, fd = out[0]] {
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        report.append(chunk, n > 0 ? static_cast<size_t>(n) : 0);
        return n > 0;
    };
    while (report.find("File size") == std::string::npos && readMore()) {}
    ASSERT_EQ(truncate(input.c_str(), 512 << 10), 0);
    while (readMore()) {}
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);

    std::vector<size_t> sizes(KEPT, 21);
    sizes[0] = 53;
    const std::string lines = decodedLines(sizes, {});  // without the totals: the walk stops at block 8192
    EXPECT_EQ(report, reportStart(input, output, container.size()) + lines.substr(0, lines.find("\nTotal")));
    EXPECT_EQ(get("err"), bytesOf("Error reading file: " + input + "\n"));
    EXPECT_EQ(status, 1 << 8);  // exited with 1
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace clitest
