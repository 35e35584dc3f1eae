#pragma once

// Shared pieces of the command-line tests: a scratch working directory per
// test, the fixed parts of the console report, and hand-made containers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "process_runner.hpp"
#include "tessel_format.hpp"
#include "tessel_writer.hpp"

namespace clitest {

namespace fs = std::filesystem;
using tessel::Bytes;

inline const Bytes SIGNATURE(std::begin(korvane::PNG_SIGNATURE), std::end(korvane::PNG_SIGNATURE));
inline const std::string BANNER =
    "=== Korvane ===\nPNG extraction from CompressionFile\n(no external dependencies)\n\n";
inline const std::string NO_SIGNATURE = "Error: PNG signature not found in decompressed data\n";

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline Bytes join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

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

// The 51-byte container: one header, then a zlib stream holding one stored
// block with the 8 signature bytes; and its report after the file size line.
inline const Bytes EXAMPLE =
    join({tessel::blockHeader(0), {0x78, 0x01, 0x01, 0x08, 0x00, 0xF7, 0xFF}, SIGNATURE, {0x0A, 0x47, 0x01, 0xAA}});
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
    // Runs Korvane and checks all it does: standard output and error, the exit
    // status and the regular files left in the working directory.
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
