// An input file that shrinks while Korvane decodes it: the lost bytes must
// neither crash Korvane nor reach an output file.

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
// the file is cut there, at a page and block boundary, and the rest of the
// report read.
TEST_F(CliTest, InputThatShrinksWhileDecodingFailsToRead) {
#ifndef KORVANE_LINUX_PLATFORM
    GTEST_SKIP() << "this build reads its input instead of mapping it";
#endif
    if (!testWrapper().empty()) GTEST_SKIP() << "the Windows build reads its input instead of mapping it";
    constexpr size_t BLOCKS = 20000;
    constexpr size_t KEPT = 8192;                                             // 64-byte blocks: 512 KiB
    const Bytes stream = tessel::zlibCompress(Bytes(21, 'k'), {.level = 0});  // 2 + 5 + 21 + 4 bytes
    ASSERT_EQ(stream.size() + 32, 64U);
    put("in.tessel", tessel::makeContainer(std::vector<Bytes>(BLOCKS, stream)));

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fcntl(out[0], F_SETPIPE_SZ, 4096);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, path("err").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string exe = korvaneExe().string(), input = path("in.tessel").string(), output = path("out.png");
    char* argv[] = {const_cast<char*>("Korvane"), const_cast<char*>(input.c_str()), const_cast<char*>(output.c_str()),
                    nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, exe.c_str(), &actions, nullptr, argv, environ), 0);
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
    ASSERT_EQ(truncate(input.c_str(), KEPT * 64), 0);
    while (readMore()) {}
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);

    EXPECT_EQ(report, reportStart(input, output, BLOCKS * 64) + decodedLines(std::vector<size_t>(KEPT, 21), {}));
    EXPECT_EQ(get("err"), bytesOf("Error reading file: " + input + "\n"));
    EXPECT_EQ(status, 1 << 8);  // exited with 1
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace clitest
