// Arguments, output naming and the report lines around them.

#include <gtest/gtest.h>

#include "cli_fixture.hpp"
#include "driver.hpp"

namespace clitest {
namespace {

// argv[0] is printed as given, never reduced to a base name. With no argv[0]
// at all, Linux may pass an empty one: either way the name part is empty.
TEST_F(CliTest, NoArgumentsPrintBannerAndUsageWithTheInvocationName) {
    if (!testWrapper().empty()) GTEST_SKIP() << "the wrapper decides argv[0]";
    put("in.tessel", exampleContainer());
    for (const std::optional<std::string>& argv0 : std::vector<std::optional<std::string>>{"./my tools/kv.v2", {}})
        expectRun({},
                  BANNER + "Usage: " + argv0.value_or("") +
                      " <input_file> [output_file.png]\n\nExtracts PNG image from Tessel (CompressionFile) format.\n"
                      "If output file is not specified, uses input filename with .png extension.\n",
                  "", 1, {"in.tessel"}, {.argv0 = argv0});
}

// An empty first argument gives the bare output name ".png"; neither it nor
// a missing file can be opened, and nothing is written.
TEST_F(CliTest, InputThatCannotBeOpened) {
    expectRun({""}, reportStart("", ".png"), "Could not open file: \n", 1, {});
    expectRun({"absent.tessel"}, reportStart("absent.tessel", "absent.png"), "Could not open file: absent.tessel\n", 1,
              {});
}

TEST_F(CliTest, OutputInMissingDirectoryCannotBeCreated) {
    put("in.tessel", exampleContainer());
    expectRun({"in.tessel", "no/such/dir/out.png"},
              reportStart("in.tessel", "no/such/dir/out.png", 51) + EXAMPLE_REPORT,
              "Could not create file: no/such/dir/out.png\n", 1, {"in.tessel"});
}

struct OutputCase {
    const char* name;
    std::vector<std::string> args;
    std::string output;
};

class OutputPath : public CliTest, public ::testing::WithParamInterface<OutputCase> {};

// The 51-byte example container, under several names. A longer file already
// at the output path must end up truncated; when the output is the input
// itself, the input has been read whole before that.
TEST_P(OutputPath, ReceivesExactlyThePng) {
    const std::vector<std::string>& args = GetParam().args;
    const std::string& output = GetParam().output;
    put(output, Bytes(1000, 'x'));
    put(args[0], exampleContainer());
    expectRun(args, reportStart(args[0], output, 51) + EXAMPLE_REPORT + successLines(output), "", 0, {args[0], output});
    EXPECT_EQ(get(output), PNG_SIGNATURE);
}

// An explicit output is used unchanged; a derived one replaces everything
// from the last dot, even one in the directory part.
INSTANTIATE_TEST_SUITE_P(
    Cli, OutputPath,
    ::testing::Values(OutputCase{"ExplicitNoExtension", {"in.tessel", "picture"}, "picture"},
                      OutputCase{"ExtraArgumentsIgnored", {"in.tessel", "out.png", "third.png", "--x"}, "out.png"},
                      OutputCase{"ExplicitSameAsInput", {"x.tessel", "x.tessel"}, "x.tessel"},
                      OutputCase{"DerivedFromDirectoryDot", {"dir.old/archive"}, "dir.png"},
                      OutputCase{"DerivedNonAscii",
                                 {"caf\u00e9 \u0444\u043e\u0442\u043e.tessel"},
                                 "caf\u00e9 \u0444\u043e\u0442\u043e.png"},
                      OutputCase{"DerivedSameAsInput", {"x.png"}, "x.png"}),
    ByName());

TEST(DeriveOutputPath, ReplacesFromTheLastDotAnywhere) {
    const std::pair<const char*, const char*> cases[] = {
        {"photo.dat", "photo.png"},
        {"a.b.c", "a.b.png"},
        {"noext", "noext.png"},
        {"name.", "name.png"},
        {".hidden", ".png"},
        {"dir.old/archive", "dir.png"},
        {"", ".png"},
        {"./in", ".png"},
        {"../data/file", "..png"},
        {"x.png", "x.png"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(korvane::deriveOutputPath(input), output) << input;
}

}  // namespace
}  // namespace clitest
