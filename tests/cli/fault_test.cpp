// Unreadable inputs, unwritable outputs, and output over the input.

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

// Two blocks, the PNG starting inside the first one.
const Bytes LEAD = bytesOf("lead-in ");
const Bytes PNG = join({PNG_SIGNATURE, bytesOf("IHDR and the rest of a small image")});
Bytes twoBlockContainer() {
    return tessel::makeContainer(std::vector{tessel::zlibCompress(join({LEAD, Bytes(PNG.begin(), PNG.begin() + 20)})),
                                             tessel::zlibCompress(Bytes(PNG.begin() + 20, PNG.end()))});
}
std::string twoBlockReport() {
    return "Block 1: decompressed 28 bytes\n"
           "Block 2: decompressed 22 bytes\n"
           "\n"
           "Total blocks: 2\n"
           "Total decompressed: 50 bytes\n"
           "PNG found at offset: 8\n"
           "PNG size: 42 bytes\n";
}

// Drops a leading "==PID==WARNING: AddressSanitizer failed to allocate ..." line.
std::string withoutAllocationNote(const std::string& err) {
    const size_t lineEnd = err.find('\n');
    const bool isNote = err.starts_with("==") && lineEnd != std::string::npos &&
                        err.substr(0, lineEnd).find("==WARNING: AddressSanitizer failed to allocate ") !=
                            std::string::npos;
    return isNote ? err.substr(lineEnd + 1) : err;
}

// On ext4 a directory reports a size of 2^63 - 1: the program asks for that
// much memory and takes the refusal as a read error. AddressSanitizer aborts
// on such a request unless told to refuse it the way malloc does, and then
// notes the refusal on stderr; that one note is dropped before comparing.
TEST_F(CliTest, DirectoryAsInputFailsToRead) {
    fs::create_directory(path("folder.d"));
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "";
    const RunResult result =
        run({"folder.d"}, {.environment = {"ASAN_OPTIONS=" + asanOptions + "allocator_may_return_null=1"}});
    EXPECT_EQ(result.out, reportStart("folder.d", "folder.png"));
    EXPECT_EQ(withoutAllocationNote(result.err),
              "Error reading file: folder.d\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{});
}

// sysfs reports 4096 bytes for a file that holds a few: the read comes up short.
TEST_F(CliTest, InputShorterThanItsSizeFailsToRead) {
    const std::string input = "/sys/devices/system/cpu/online";
    if (!fs::exists(input)) GTEST_SKIP() << "no " << input;
    const RunResult result = run({input, "out.png"});
    EXPECT_EQ(result.out, reportStart(input, "out.png"));
    EXPECT_EQ(result.err, "Error reading file: " + input + "\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{});
}

TEST_F(CliTest, UnreadableInputFailsToOpen) {
    if (!permissionsApply()) GTEST_SKIP() << "needs a run as nobody, which a wrapper cannot do";
    put("locked.tessel", exampleContainer());
    fs::permissions(path("locked.tessel"), fs::perms::none);
    fs::permissions(dir_, fs::perms::all);  // the output could be created, but must not be
    const RunResult result = run({"locked.tessel"}, asUnprivileged());
    EXPECT_EQ(result.out, reportStart("locked.tessel", "locked.png"));
    EXPECT_EQ(result.err, "Could not open file: locked.tessel\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"locked.tessel"});
}

TEST_F(CliTest, OutputInReadOnlyDirectoryCannotBeCreated) {
    if (!permissionsApply()) GTEST_SKIP() << "needs a run as nobody, which a wrapper cannot do";
    put("in.tessel", exampleContainer());
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const RunResult result = run({"in.tessel"}, asUnprivileged());
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", 51) + EXAMPLE_REPORT);
    EXPECT_EQ(result.err, "Could not create file: in.png\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

// /dev/full opens fine and fails every write. The 42 bytes would fit in a
// stream buffer, so only a write that reaches the system at once fails here;
// the failed write adds no message.
TEST_F(CliTest, FailedWriteEndsWithStatusOneAndNoMessage) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    put("in.tessel", twoBlockContainer());
    const RunResult result = run({"in.tessel", "/dev/full"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "/dev/full", twoBlockContainer().size()) + twoBlockReport());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

struct SamePathCase {
    const char* name;
    std::vector<std::string> args;
};

class OutputOverInput : public CliTest, public ::testing::WithParamInterface<SamePathCase> {};

// The whole input is read before the output is opened, so the file ends up
// holding just the extracted PNG.
TEST_P(OutputOverInput, ReplacesTheContainerWithThePng) {
    const std::string file = GetParam().args.front();
    put(file, twoBlockContainer());
    const RunResult result = run(GetParam().args);
    EXPECT_EQ(result.out, reportStart(file, file, twoBlockContainer().size()) + twoBlockReport() + successLines(file));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(files(), std::set<std::string>{file});
    EXPECT_EQ(get(file), PNG);
}

INSTANTIATE_TEST_SUITE_P(Fault, OutputOverInput,
                         ::testing::Values(SamePathCase{"Explicit", {"x.tessel", "x.tessel"}},
                                           SamePathCase{"Derived", {"x.png"}}),
                         ByName());

}  // namespace
}  // namespace clitest
