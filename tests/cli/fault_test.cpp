// Inputs that cannot be read, outputs that cannot be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
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

// What a directory does depends on the size its file system reports: none
// (tmpfs, and any directory on Windows) fails the open, 0 (procfs) reads as
// an empty file, any other (ext4: 2^63 - 1) fails as a read.
TEST_F(CliTest, DirectoryAsInputIsNotExtracted) {
    fs::create_directory(path("folder.d"));
    const std::pair<std::string, std::string> inputs[] = {{"folder.d", "folder.png"}, {"/proc/self", "/proc/self.png"}};
    for (const auto& [input, derived] : inputs) {
        SCOPED_TRACE(input);
        const int fd = open(input.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) continue;  // no procfs
        const off_t size = testWrapper().empty() ? lseek(fd, 0, SEEK_END) : -1;
        close(fd);
        if (size == 0) {
            expectRun({input}, reportStart(input, derived, 0) + totalsLines(0, 0), NO_SIGNATURE, 1, {});
        } else {
            expectRun({input}, reportStart(input, derived),
                      (size < 0 ? "Could not open file: " : "Error reading file: ") + input + "\n", 1, {});
        }
    }
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
