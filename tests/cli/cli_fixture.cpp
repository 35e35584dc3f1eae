#include "cli_fixture.hpp"

#include <stdlib.h>

#include <cstdlib>

namespace clitest {

namespace fs = std::filesystem;

std::string reportStart(const std::string& input, const std::string& output, std::optional<size_t> fileSize) {
    std::string text = BANNER + "Input file:  " + input + "\nOutput file: " + output + "\n\n";
    if (fileSize) text += "File size: " + std::to_string(*fileSize) + " bytes\n";
    return text;
}

std::string totalsLines(size_t blocks, size_t bytes) {
    return "\nTotal blocks: " + std::to_string(blocks) + "\nTotal decompressed: " + std::to_string(bytes) + " bytes\n";
}

std::string foundLines(size_t offset, size_t size) {
    return "PNG found at offset: " + std::to_string(offset) + "\nPNG size: " + std::to_string(size) + " bytes\n";
}

std::string successLines(const std::string& output) { return "\nSuccess! PNG saved to: " + output + "\n"; }

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes exampleContainer() {
    return join({bytesOf("TSL1CompressionFile"),
                 Bytes(13, 0xEE),
                 {0x78, 0x01, 0x01, 0x08, 0x00, 0xF7, 0xFF},
                 PNG_SIGNATURE,
                 {0x0A, 0x47, 0x01, 0xAA}});
}

void CliTest::SetUp() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvane-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
    dir_ = pattern;
}

void CliTest::TearDown() {
    if (dir_.empty()) return;
    // Permission tests leave read-only directories and unreadable files behind.
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
}

void CliTest::put(const std::string& name, const Bytes& data) const {
    fs::create_directories(path(name).parent_path());
    tessel::writeWholeFile(path(name).string(), data);
}

Bytes CliTest::get(const std::string& name) const { return tessel::readWholeFile(path(name).string()); }

std::set<std::string> CliTest::files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
        if (entry.is_regular_file()) names.insert(entry.path().lexically_relative(dir_).generic_string());
    return names;
}

void CliTest::expectRun(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                        int status, const std::set<std::string>& files, const RunOptions& options) const {
    const RunResult result = run(args, options);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(this->files(), files);
}

void CliTest::expectExtraction(const Bytes& container, const std::vector<Bytes>& blocks,
                               std::optional<size_t> pngOffset) {
    put("in.tessel", container);
    const Bytes joined = join(blocks);
    std::string out = reportStart("in.tessel", "in.png", container.size());
    for (size_t i = 0; i < blocks.size(); ++i)
        out += "Block " + std::to_string(i + 1) + ": decompressed " + std::to_string(blocks[i].size()) + " bytes\n";
    out += totalsLines(blocks.size(), joined.size());
    if (!pngOffset) return expectRun({"in.tessel"}, out, NO_SIGNATURE, 1, {"in.tessel"});
    expectRun({"in.tessel"}, out + foundLines(*pngOffset, joined.size() - *pngOffset) + successLines("in.png"), "", 0,
              {"in.png", "in.tessel"});
    EXPECT_EQ(get("in.png"), Bytes(joined.begin() + static_cast<std::ptrdiff_t>(*pngOffset), joined.end()));
}

}  // namespace clitest
