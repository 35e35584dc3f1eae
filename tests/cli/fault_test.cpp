// Inputs that cannot be read, outputs that cannot be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

namespace fs = std::filesystem;

// Permission checks mean nothing to root, so as root the child runs as
// nobody; a wrapper such as wine cannot be started that way.
bool permissionsApply() { return geteuid() != 0 || testWrapper().empty(); }
RunOptions asUnprivileged() { return {.asNobody = geteuid() == 0}; }

// A directory fails the open on some file systems (tmpfs) and on Windows, and
// opens like a file on others (ext4, procfs); then it fails as a read,
// whatever size it reports.
TEST_F(CliTest, DirectoryAsInputIsNotExtracted) {
    fs::create_directory(path("folder.d"));
    const int fd = open(path("folder.d").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const off_t size = lseek(fd, 0, SEEK_END);
    close(fd);
    const bool opensAsFile = size >= 0 && testWrapper().empty();
    expectRun({"folder.d"}, reportStart("folder.d", "folder.png"),
              (opensAsFile ? "Error reading file: " : "Could not open file: ") + std::string("folder.d\n"), 1, {});
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
