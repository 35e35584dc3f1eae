#pragma once

// Shared pieces of the command-line tests. runProgram runs Korvane and captures
// what it does: KORVANE_TEST_EXE replaces it; KORVANE_TEST_WRAPPER (words, e.g.
// "wine64"; by default a cross build's emulator) goes in front ("\r\n" then
// reads as "\n"); KORVANE_TEST_NO_HUGE_PAGES=1 disables transparent huge pages.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../decoder/decode_support.hpp"
#include "missing_packages.hpp"
#include "tessel_format.hpp"
#include "tessel_writer.hpp"

namespace clitest {

namespace fs = std::filesystem;
using deflate_writer::bytesOf;
using deflate_writer::operator+;
using tessel::Bytes;

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status; 128 + signal number if the child was killed
};

struct RunOptions {
    // The child's argv[0]; nullopt passes none at all. A wrapper sets its own.
    std::optional<std::string> argv0 = "Korvane";
    uint64_t fileSizeLimit = uint64_t{64} << 20;  // RLIMIT_FSIZE, captures included: bounds a runaway child
    uint64_t addressSpaceLimit = 0;               // RLIMIT_AS; 0 leaves it alone
    std::string cgroup = {};                      // a control group the child joins first (needs root)
    // Shown standard output after each read until it returns true; the child then stalls on a one-page pipe.
    std::function<bool(const std::string&)> onOutput = {};
};

std::vector<std::string> testWrapper();
std::filesystem::path korvaneExe();
// A missing wrapper or Windows build: skip with KORVANE_SKIP_IF_MISSING before a run.
std::vector<testsupport::Missing> missingForRuns();
// Runs Korvane with `args` after argv[0], in `workDir`, stdin on /dev/null.
RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const RunOptions& options = {});

inline const Bytes SIGNATURE(std::begin(korvane::PNG_SIGNATURE), std::end(korvane::PNG_SIGNATURE));
inline const std::string BANNER =
    "=== Korvane ===\nPNG extraction from CompressionFile\n(no external dependencies)\n\n";
inline const std::string NO_SIGNATURE = "Error: PNG signature not found in decompressed data\n";

// The report up to the file size line, which is left out when no size is given.
inline std::string reportStart(const std::string& input, const std::string& output,
                               std::optional<size_t> fileSize = std::nullopt) {
    const std::string text = BANNER + "Input file:  " + input + "\nOutput file: " + output + "\n\n";
    return fileSize ? text + "File size: " + std::to_string(*fileSize) + " bytes\n" : text;
}

// The lines for blocks that decode to `sizes` bytes and the totals; then,
// given the first signature's offset, the lines that report the PNG.
inline std::string decodedLines(const std::vector<size_t>& sizes, std::optional<size_t> pngOffset) {
    std::string text;
    size_t total = 0;
    for (size_t i = 0; i < sizes.size(); total += sizes[i++])
        text += "Block " + std::to_string(i + 1) + ": decompressed " + std::to_string(sizes[i]) + " bytes\n";
    text += "\nTotal blocks: " + std::to_string(sizes.size()) + "\nTotal decompressed: " + std::to_string(total) +
            " bytes\n";
    if (!pngOffset) return text;
    return text + "PNG found at offset: " + std::to_string(*pngOffset) +
           "\nPNG size: " + std::to_string(total - *pngOffset) + " bytes\n";
}
inline std::string successLine(const std::string& output) { return "\nSuccess! PNG saved to: " + output + "\n"; }

// The 51-byte container: a header, then a zlib stream holding the 8 signature
// bytes in a stored block; and its report after the file size line.
inline const Bytes EXAMPLE = tessel::blockHeader(0) + tessel::zlibCompress(SIGNATURE, {.level = 0});
inline const std::string EXAMPLE_REPORT = decodedLines({8}, 0);

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        KORVANE_SKIP_IF_MISSING(missingForRuns());
        std::string pattern = (fs::temp_directory_path() / "korvane-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    [[nodiscard]] fs::path path(const std::string& name) const { return dir_ / name; }
    void put(const std::string& name, const Bytes& data) const {
        fs::create_directories(path(name).parent_path());
        tessel::writeWholeFile(path(name).string(), data);
    }
    [[nodiscard]] Bytes get(const std::string& name) const { return tessel::readWholeFile(path(name).string()); }
    // Runs Korvane and checks its standard output and error, exit status and the files left.
    void expectRun(const std::vector<std::string>& args, const std::string& out, const std::string& err, int status,
                   const std::set<std::string>& files, const RunOptions& options = {}) const {
        const RunResult result = runProgram(dir_, args, options);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(result.status, status);
        std::set<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(dir_))
            if (entry.is_regular_file()) left.insert(entry.path().lexically_relative(dir_).generic_string());
        EXPECT_EQ(left, files);
    }

    fs::path dir_;
};

}  // namespace clitest
