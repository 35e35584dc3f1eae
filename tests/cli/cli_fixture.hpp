#pragma once

// Shared pieces of the command-line tests: a scratch working directory per
// test, the fixed parts of the console report, and hand-made containers.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "process_runner.hpp"
#include "tessel_writer.hpp"

namespace clitest {

using tessel::Bytes;

inline const Bytes PNG_SIGNATURE = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

inline const std::string BANNER =
    "=== Korvane ===\nPNG extraction from CompressionFile\n(no external dependencies)\n\n";
inline const std::string NOT_TESSEL = "Error: file is not a valid Tessel (CompressionFile)\n";
inline const std::string NO_SIGNATURE = "Error: PNG signature not found in decompressed data\n";

// Banner, the two path lines and, when given, the file size line.
std::string reportStart(const std::string& input, const std::string& output,
                        std::optional<size_t> fileSize = std::nullopt);
std::string totalsLines(size_t blocks, size_t bytes);
std::string foundLines(size_t offset, size_t size);
std::string successLines(const std::string& output);

Bytes bytesOf(std::string_view text);
Bytes join(const std::vector<Bytes>& parts);

// The 51-byte container: one header, then a zlib stream holding one stored
// block with the 8 signature bytes. Decodes to exactly the signature.
Bytes exampleContainer();
// What Korvane prints for it after the file size line, up to the success line.
inline const std::string EXAMPLE_REPORT =
    "Block 1: decompressed 8 bytes\n\nTotal blocks: 1\nTotal decompressed: 8 bytes\n"
    "PNG found at offset: 0\nPNG size: 8 bytes\n";

// Names parameterised cases after their `name` field.
struct ByName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    [[nodiscard]] std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    void put(const std::string& name, const Bytes& data) const;
    [[nodiscard]] Bytes get(const std::string& name) const;
    // Regular files under the working directory, as relative paths.
    [[nodiscard]] std::set<std::string> files() const;
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return runProgram(dir_, args, options);
    }
    // Runs Korvane and checks all it does: standard output and error, the exit
    // status and the regular files left in the working directory.
    void expectRun(const std::vector<std::string>& args, const std::string& out, const std::string& err, int status,
                   const std::set<std::string>& files, const RunOptions& options = {}) const;

    // Runs Korvane on in.tessel = `container`, whose blocks decode to
    // `blocks`, and checks the whole report, the status and in.png against
    // the joined bytes from `pngOffset` (nullopt: no signature expected).
    void expectExtraction(const Bytes& container, const std::vector<Bytes>& blocks, std::optional<size_t> pngOffset);

    std::filesystem::path dir_;
};

}  // namespace clitest
