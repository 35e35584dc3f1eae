// Arguments, output naming and the report lines around them.

#include <gtest/gtest.h>

#include "cli_fixture.hpp"
#include "driver.hpp"

namespace clitest {
namespace {

struct UsageCase {
    const char* name;
    std::optional<std::string> argv0;
    std::string shown;  // what the usage line must show for it
};

class NoArguments : public CliTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(NoArguments, PrintsBannerAndUsageWithTheInvocationName) {
    if (!testWrapper().empty()) GTEST_SKIP() << "the wrapper decides argv[0]";
    put("in.tessel", exampleContainer());
    const RunResult result = run({}, {.argv0 = GetParam().argv0});
    EXPECT_EQ(result.out,
              "=== Korvane ===\n"
              "PNG extraction from CompressionFile\n"
              "(no external dependencies)\n"
              "\n"
              "Usage: " + GetParam().shown + " <input_file> [output_file.png]\n"
              "\n"
              "Extracts PNG image from Tessel (CompressionFile) format.\n"
              "If output file is not specified, uses input filename with .png extension.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

// argv[0] is printed as given, never reduced to a base name. With no argv[0]
// at all, Linux may pass an empty one: either way the name part is empty.
INSTANTIATE_TEST_SUITE_P(Cli, NoArguments,
                         ::testing::Values(UsageCase{"Plain", "Korvane", "Korvane"},
                                           UsageCase{"AbsolutePath", "/opt/bin/Korvane", "/opt/bin/Korvane"},
                                           UsageCase{"SpacesAndDots", "./my tools/kv.v2", "./my tools/kv.v2"},
                                           UsageCase{"Empty", "", ""},
                                           UsageCase{"Missing", std::nullopt, ""}),
                         ByName());

TEST_F(CliTest, ArgumentsAfterTheOutputAreIgnored) {
    put("in.tessel", exampleContainer());
    const RunResult result = run({"in.tessel", "out.png", "third.png", "--fourth"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "out.png", 51) + EXAMPLE_REPORT + successLines("out.png"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(files(), (std::set<std::string>{"in.tessel", "out.png"}));
    EXPECT_EQ(get("out.png"), PNG_SIGNATURE);
}

TEST_F(CliTest, EmptyInputArgumentGivesBareExtensionAndFailsToOpen) {
    const RunResult result = run({""});
    EXPECT_EQ(result.out, reportStart("", ".png"));
    EXPECT_EQ(result.err, "Could not open file: \n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{});
}

TEST_F(CliTest, MissingInputIsReportedAndNothingIsWritten) {
    const RunResult result = run({"absent.tessel"});
    EXPECT_EQ(result.out, reportStart("absent.tessel", "absent.png"));
    EXPECT_EQ(result.err, "Could not open file: absent.tessel\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{});
}

TEST_F(CliTest, OutputInMissingDirectoryCannotBeCreated) {
    put("in.tessel", exampleContainer());
    const RunResult result = run({"in.tessel", "no/such/dir/out.png"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "no/such/dir/out.png", 51) + EXAMPLE_REPORT);
    EXPECT_EQ(result.err, "Could not create file: no/such/dir/out.png\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

class ExplicitOutput : public CliTest, public ::testing::WithParamInterface<const char*> {};

// The given name is used as it is; a longer file already there is truncated.
TEST_P(ExplicitOutput, IsUsedUnchangedAndTruncated) {
    const std::string output = GetParam();
    put("in.tessel", exampleContainer());
    put(output, Bytes(1000, 'x'));
    const RunResult result = run({"in.tessel", output});
    EXPECT_EQ(result.out, reportStart("in.tessel", output, 51) + EXAMPLE_REPORT + successLines(output));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(files(), (std::set<std::string>{"in.tessel", output}));
    EXPECT_EQ(get(output), PNG_SIGNATURE);
}

INSTANTIATE_TEST_SUITE_P(Cli, ExplicitOutput, ::testing::Values("result.bin", "picture", "sub.d/image.png.part"));

struct NamingCase {
    const char* input;
    const char* output;
};

class DerivedOutput : public CliTest, public ::testing::WithParamInterface<NamingCase> {};

TEST_P(DerivedOutput, IsWrittenWhereTheNameSays) {
    const std::string input = GetParam().input;
    const std::string output = GetParam().output;
    put(input, exampleContainer());
    const RunResult result = run({input});
    EXPECT_EQ(result.out, reportStart(input, output, 51) + EXAMPLE_REPORT + successLines(output));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(files(), (std::set<std::string>{input, output}));
    EXPECT_EQ(get(output), PNG_SIGNATURE);
}

// The last dot may sit in the directory part: dir.old/archive gives dir.png.
INSTANTIATE_TEST_SUITE_P(Cli, DerivedOutput,
                         ::testing::Values(NamingCase{"photo.dat", "photo.png"}, NamingCase{"a.b.c", "a.b.png"},
                                           NamingCase{"noext", "noext.png"},
                                           NamingCase{"dir.old/archive", "dir.png"},
                                           NamingCase{"caf\u00e9 \u0444\u043e\u0442\u043e.tessel",
                                                      "caf\u00e9 \u0444\u043e\u0442\u043e.png"}));

TEST(DeriveOutputPath, ReplacesFromTheLastDotAnywhere) {
    const NamingCase cases[] = {
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
    for (const NamingCase& c : cases) EXPECT_EQ(korvane::deriveOutputPath(c.input), c.output) << c.input;
}

}  // namespace
}  // namespace clitest
