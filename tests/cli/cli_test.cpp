// The Korvane executable end to end, each run checked whole: standard output
// and error, exit status, the files left and their bytes.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

// argv[0] is printed as given, never reduced to a base name; with none at all
// (Linux may pass an empty one) the name part is empty.
TEST_F(CliTest, NoArgumentsPrintBannerAndUsageWithTheInvocationName) {
    if (!testWrapper().empty()) GTEST_SKIP() << "the wrapper decides argv[0]";
    put("in.tessel", EXAMPLE);
    for (const std::optional<std::string>& argv0 : std::vector<std::optional<std::string>>{"./my tools/kv.v2", {}})
        expectRun({},
                  BANNER + "Usage: " + argv0.value_or("") +
                      " <input_file> [output_file.png]\n\nExtracts PNG image from Tessel (CompressionFile) format.\n"
                      "If output file is not specified, uses input filename with .png extension.\n",
                  "", 1, {"in.tessel"}, {.argv0 = argv0});
}

using OutputCase = std::tuple<const char*, std::vector<std::string>, std::string>;  // name, arguments, output

class OutputPath : public CliTest, public ::testing::WithParamInterface<OutputCase> {};

// A longer file already at the output path ends up truncated; an output that
// is the input itself is written after the input was read whole.
TEST_P(OutputPath, ReceivesExactlyThePng) {
    const auto& [name, args, output] = GetParam();
    put(output, Bytes(1000, 'x'));
    put(args[0], EXAMPLE);
    expectRun(args, reportStart(args[0], output, 51) + EXAMPLE_REPORT + successLine(output), "", 0, {args[0], output});
    EXPECT_EQ(get(output), SIGNATURE);
}

// A derived output replaces everything from the last dot (even one in the
// directory part), or adds ".png" to a name without a dot.
INSTANTIATE_TEST_SUITE_P(
    Cli, OutputPath,
    ::testing::Values(OutputCase{"ExplicitNoExtension", {"in.tessel", "picture"}, "picture"},
                      OutputCase{"ExtraArgumentsIgnored", {"in.tessel", "out.png", "third.png", "--x"}, "out.png"},
                      OutputCase{"DerivedFromTheLastDot", {"dir.old/a.b/archive"}, "dir.old/a.png"},
                      OutputCase{"DerivedWithoutDot", {"archive"}, "archive.png"},
                      OutputCase{"DerivedNonAscii",
                                 {"caf\u00e9 \u0444\u043e\u0442\u043e.tessel"},
                                 "caf\u00e9 \u0444\u043e\u0442\u043e.png"},
                      OutputCase{"DerivedSameAsInput", {"x.png"}, "x.png"}),
    [](const auto& param) { return std::string(std::get<0>(param.param)); });

// Nothing is written for an input that cannot be opened or read whole (sysfs
// reports 4096 bytes for a file of a few), nor for an output that cannot be
// created or written (/dev/full fails every write, and adds no message).
TEST_F(CliTest, FilesThatCannotBeReadOrWritten) {
    expectRun({""}, reportStart("", ".png"), "Could not open file: \n", 1, {});
    expectRun({"absent.tessel"}, reportStart("absent.tessel", "absent.png"), "Could not open file: absent.tessel\n", 1,
              {});
    const std::string sysfs = "/sys/devices/system/cpu/online";
    if (fs::exists(sysfs))
        expectRun({sysfs, "out.png"}, reportStart(sysfs, "out.png"), "Error reading file: " + sysfs + "\n", 1, {});
    put("in.tessel", EXAMPLE);
    expectRun({"in.tessel", "no/such/dir/out.png"},
              reportStart("in.tessel", "no/such/dir/out.png", 51) + EXAMPLE_REPORT,
              "Could not create file: no/such/dir/out.png\n", 1, {"in.tessel"});
    if (fs::exists("/dev/full"))
        expectRun({"in.tessel", "/dev/full"}, reportStart("in.tessel", "/dev/full", 51) + EXAMPLE_REPORT, "", 1,
                  {"in.tessel"});
}

// A directory opens like a file, of size 2^63 - 1 on ext4 once indexed (these
// entries make it so): it fails as the read would, without asking for memory.
TEST_F(CliTest, DirectoryAsInputFailsToRead) {
    if (korvaneExe().extension() == ".exe") GTEST_SKIP() << "Windows does not open a directory as a file";
    std::set<std::string> entries;
    for (int i = 0; i < 300; ++i)
        entries.insert("dir.tessel/an-entry-with-a-long-name-to-fill-blocks-" + std::to_string(i));
    for (const std::string& name : entries) put(name, {});
    expectRun({"dir.tessel", "out.png"}, reportStart("dir.tessel", "out.png"), "Error reading file: dir.tessel\n", 1,
              entries);
}

// Letters in random order: literal-heavy, so the stream after them is decoded
// ahead, alongside the next, guessed by the first magic after its start.
std::string noise(size_t size) {
    std::mt19937 random(5);
    std::string letters(size, 'a');
    for (char& letter : letters) letter = static_cast<char>('a' + random() % 16);
    return letters;
}

// A memory control group allowing `limit` bytes while the object lives; its
// path is empty where none can be made (that needs root).
struct MemoryGroup {
    fs::path path;
    explicit MemoryGroup(uint64_t limit) {
        for (const auto& [root, file] :
             {std::pair{"/sys/fs/cgroup/memory", "memory.limit_in_bytes"}, std::pair{"/sys/fs/cgroup", "memory.max"}}) {
            std::error_code error;
            path = fs::path(root) / ("korvane-test-" + std::to_string(::getpid()));
            if (fs::create_directory(path, error) && std::ofstream(path / file) << limit << std::flush) return;
            fs::remove(path, error);
            path.clear();
        }
    }
    ~MemoryGroup() {
        std::error_code error;
        if (!path.empty()) fs::remove(path, error);
    }
};

// Memory that runs out ends the run with a line that says so: under an address
// space limit, and a control group's, which the kernel enforces by killing.
TEST_F(CliTest, RunningOutOfMemoryIsExplained) {
    if (!testWrapper().empty()) GTEST_SKIP() << "the limit would apply to the wrapper";
    constexpr uint64_t LIMIT = uint64_t{64} << 20;
    std::vector<std::tuple<std::string, RunOptions, uint64_t>> limits;  // name, how, bytes allowed
#ifndef __SANITIZE_ADDRESS__  // which needs more address space than the limit leaves
    limits.emplace_back("address space", RunOptions{.addressSpaceLimit = LIMIT}, LIMIT);
#endif
#ifdef KORVANE_LINUX_PLATFORM  // the fallback does not read the group's limit, which the kernel enforces by killing
    const MemoryGroup group(2 * LIMIT);
    if (!group.path.empty()) limits.emplace_back("control group", RunOptions{.cgroup = group.path.string()}, 2 * LIMIT);
#endif
    if (limits.empty()) GTEST_SKIP() << "no memory limit can be set here";

    // Streams that decode to `size` zeros: a literal, then copies of 258 at distance 1.
    const auto zeros = [](uint64_t size) {
        deflate_writer::BitWriter stream = deflate_writer::zlibHeader();
        auto body = deflate_writer::fixedBlock(stream, true).literal(0);
        for (uint64_t done = 1; done < size; done += 258)
            body.copy(static_cast<int>(std::min<uint64_t>(258, size - done)), 1);
        body.end();
        return stream.bytes(Bytes(4, 0)).data();
    };
    // A bomb, four times the limit, alone and after literal-heavy streams: the
    // bomb, decoded ahead, takes memory the stream before needs, which is then
    // decoded again alone; the bomb then fails as it would alone, FIRST bytes
    // sooner (and the larger file's mapping sooner under an address space limit).
    const uint64_t FIRST = LIMIT / 4;
    const Bytes bomb = tessel::blockHeader(1) + zeros(4 * LIMIT);
    const Bytes lateBomb = tessel::makeContainer(std::vector{
        tessel::zlibCompress(bytesOf(noise(2000))), tessel::zlibCompress(bytesOf(noise(FIRST))), zeros(4 * LIMIT)});
    const std::string lines = decodedLines({2000, FIRST}, {});
    for (const auto& [name, options, allowed] : limits) {
        uint64_t alone = 0;
        for (const bool late : {false, true}) {
            SCOPED_TRACE(name + (late ? ", late" : ", alone"));
            put("bomb.tessel", late ? lateBomb : bomb);
            const RunResult result = runProgram(dir_, {"bomb.tessel"}, options);
            EXPECT_EQ(result.out, reportStart("bomb.tessel", "bomb.png", late ? lateBomb.size() : bomb.size()) +
                                      (late ? lines.substr(0, lines.find("\nTotal")) : ""));
            EXPECT_EQ(result.status, 1);
            const std::string before = "Decompression error in block " + std::string(late ? "3" : "1") +
                                       ": out of memory after ",
                              after = " decoded bytes\n";
            ASSERT_TRUE(result.err.starts_with(before) && result.err.ends_with(after)) << result.err;
            const std::string count =
                result.err.substr(before.size(), result.err.size() - before.size() - after.size());
            ASSERT_TRUE(!count.empty() && std::all_of(count.begin(), count.end(), ::isdigit)) << result.err;
            // What else the process holds varies: decoding gets most of the way, short of the limit.
            const uint64_t decoded = std::stoull(count);
            EXPECT_GT(late ? decoded + FIRST + lateBomb.size() - bomb.size() + (uint64_t{4} << 20) : decoded,
                      late ? alone : allowed / 2);
            EXPECT_LT(decoded, late ? alone : allowed);
            alone = decoded;
        }
    }
#ifndef __SANITIZE_ADDRESS__
    // A file larger than the limit, which takes no disk as a sparse file.
    fs::resize_file(path("bomb.tessel"), LIMIT * 2);
    expectRun({"bomb.tessel"}, reportStart("bomb.tessel", "bomb.png"),
              "Not enough memory to read file: bomb.tessel (" + std::to_string(LIMIT * 2) + " bytes)\n", 1,
              {"bomb.tessel"}, {.addressSpaceLimit = LIMIT});
#endif
}

const std::string SIG(SIGNATURE.begin(), SIGNATURE.end());
const std::string LEAD_IN = "Tessel lead-in\n";  // 15 bytes, no signature
const std::string PNG_BODY = SIG + std::string("\0\0\0\x0dIHDR fake image body, never parsed", 38);

Bytes compress(const std::string& data) { return tessel::zlibCompress(bytesOf(data)); }
Bytes containerOf(const std::vector<Bytes>& streams) { return tessel::makeContainer(streams); }
const Bytes TWO_BLOCKS = containerOf({compress(LEAD_IN), compress(PNG_BODY)});  // the lead-in, then a PNG

// Name, container, the report after the file size line (up to the success
// line), standard error, and what in.png holds (empty: nothing, status 1).
using ContainerCase = std::tuple<std::string, Bytes, std::string, std::string, Bytes>;

class Container : public CliTest, public ::testing::WithParamInterface<ContainerCase> {};

TEST_P(Container, ReportsEveryBlockAndWritesFromTheFirstSignature) {
    const auto& [name, container, outAfterSize, err, png] = GetParam();
    put("in.tessel", container);
    const bool written = !png.empty();
    expectRun(
        {"in.tessel"},
        reportStart("in.tessel", "in.png", container.size()) + outAfterSize + (written ? successLine("in.png") : ""),
        err, written ? 0 : 1,
        written ? std::set<std::string>{"in.png", "in.tessel"} : std::set<std::string>{"in.tessel"});
    EXPECT_EQ(written ? get("in.png") : png, png);
}

// A container whose blocks decode to `blocks`, with the first signature at `offset`.
ContainerCase decoded(std::string name, Bytes container, const std::vector<std::string>& blocks,
                      std::optional<size_t> offset) {
    std::vector<size_t> sizes;
    std::string joined;
    for (const std::string& block : blocks) sizes.push_back(block.size()), joined += block;
    return {std::move(name), std::move(container), decodedLines(sizes, offset), offset ? "" : NO_SIGNATURE,
            offset ? bytesOf(joined.substr(*offset)) : Bytes{}};
}
// One block per string, which it decodes to.
ContainerCase search(std::string name, const std::vector<std::string>& blocks, std::optional<size_t> offset) {
    std::vector<Bytes> streams(blocks.size());
    std::transform(blocks.begin(), blocks.end(), streams.begin(), compress);
    return decoded(std::move(name), containerOf(streams), blocks, offset);
}

ContainerCase notTessel(const char* name, size_t at, uint8_t value) {
    Bytes bytes = EXAMPLE;
    bytes[at] = value;
    return {name, bytes, "", "Error: file is not a valid Tessel (CompressionFile)\n", {}};
}
// Blocks 1 and 2 already hold a PNG: a failing third block must still end the run.
ContainerCase badThirdBlock(const char* name, const Bytes& stream, const std::string& message) {
    const std::string lines = "Block 1: decompressed 15 bytes\nBlock 2: decompressed 46 bytes\n";
    return {name,
            TWO_BLOCKS + tessel::blockHeader(3) + stream,
            lines,
            "Decompression error in block 3: " + message + "\n",
            {}};
}
// examples/preamble.txt (78 bytes), then examples/calculator.png with its image data stored.
ContainerCase shippedSample() {
    const std::string calculator = fs::path(KORVANE_SAMPLE).parent_path() / "calculator.png";
    return {"ShippedSample", tessel::readWholeFile(KORVANE_SAMPLE), decodedLines({1430, 1430, 1430}, 78), "",
            tessel::pngWithStoredImageData(tessel::readWholeFile(calculator))};
}
// One stream whose stored, fixed and dynamic blocks split the signature twice.
ContainerCase splitInsideOneStream() {
    const std::string data = "ab" + SIG + "body";
    const tessel::Piece pieces[] = {{4, 0, Z_DEFAULT_STRATEGY}, {3, 6, Z_FIXED}, {100, 9, Z_DEFAULT_STRATEGY}};
    return decoded("SplitInsideOneStream", containerOf({tessel::zlibCompressPieces(bytesOf(data), pieces)}), {data}, 2);
}

const std::string NOISE = noise(2000);
// The guess shows only where it was right: stored data may hold the magic,
// even whole containers, and a stream that fails fails whatever follows it.
ContainerCase magicInStoredData(const char* name, const Bytes& stored) {
    const std::string text(stored.begin(), stored.end());
    const auto signature = text.find(SIG);
    return decoded(name, containerOf({compress(NOISE), tessel::zlibCompress(stored, {.level = 0}), compress(PNG_BODY)}),
                   {NOISE, text, PNG_BODY}, NOISE.size() + (signature == std::string::npos ? text.size() : signature));
}
const std::string MAGIC_TEXT(korvane::MAGIC);

// A header is looked at only with a byte after it; bytes after the last stream
// that start no block are ignored; the trailer is counted, never read.
// DistanceBeforeOutput: a fixed-code block opening with length 257, distance 0.
INSTANTIATE_TEST_SUITE_P(
    Cli, Container,
    ::testing::Values(
        decoded("Empty", {}, {}, std::nullopt),
        decoded("Short", Bytes(EXAMPLE.begin(), EXAMPLE.begin() + 32), {}, std::nullopt),
        notTessel("FirstMagicByteLowercase", 4, 'c'), notTessel("LastMagicByteChanged", 18, 'E'),
        badThirdBlock("FiveBytes", {0x78, 0x01, 0x01, 0x00, 0x00}, "Data too small for zlib"),
        badThirdBlock("DistanceBeforeOutput", {0x78, 0x01, 0x03, 0x02, 0x00, 0, 0, 0, 0}, "Invalid distance"),
        decoded("JunkAfterTheOnlyBlock", EXAMPLE + Bytes(500, 'j'), {SIG}, 0),
        decoded("NoTrailer", Bytes(TWO_BLOCKS.begin(), TWO_BLOCKS.end() - 4), {LEAD_IN, PNG_BODY}, LEAD_IN.size()),
        decoded("ZeroLengthBlocks",
                containerOf({compress(""), {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0, 0, 0, 1}, compress(PNG_BODY)}),
                {"", "", PNG_BODY}, 0),
        search("NothingDecoded", {"", ""}, std::nullopt), search("FirstOfTwo", {"ab" + SIG + "mid", SIG + "end"}, 2),
        search("SplitAroundEmptyBlock", {"ab" + SIG.substr(0, 5), "", SIG.substr(5) + "body"}, 2),
        splitInsideOneStream(), shippedSample(),
        magicInStoredData("MagicInStoredData", bytesOf("0123" + MAGIC_TEXT + std::string(40, 'x') + MAGIC_TEXT)),
        magicInStoredData("ContainerInStoredData", EXAMPLE + EXAMPLE),
        ContainerCase{"FailingStreamBeforeAGoodOne",
                      containerOf({compress(NOISE), {0x78, 0x01, 0x03, 0x02, 0x00, 0, 0, 0, 0}, compress(PNG_BODY)}),
                      "Block 1: decompressed 2000 bytes\n",
                      "Decompression error in block 2: Invalid distance\n",
                      {}}),
    [](const auto& param) { return std::string(std::get<0>(param.param)); });

// Every line is flushed as printed: a run killed writing the output (by the
// file size limit) has shown every line before.
TEST_F(CliTest, EveryLineIsFlushedAsItIsPrinted) {
    if (korvaneExe().extension() == ".exe") GTEST_SKIP() << "the limit would stop wine too";
    const Bytes container = containerOf({compress(SIG + std::string(4000, 'p'))});
    put("in.tessel", container);
    const RunResult result = runProgram(dir_, {"in.tessel"}, {.fileSizeLimit = 1024});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", container.size()) + decodedLines({4008}, 0));
    EXPECT_EQ(result.status, 128 + SIGXFSZ);
}

// Korvane stalls on its report while the test cuts the file at a page boundary
// where a block's stream starts: the lost bytes (zeros, which do not decode)
// neither crash it nor reach an output; the run ends with the file's error.
TEST_F(CliTest, InputThatShrinksWhileDecodingFailsToRead) {
#ifndef KORVANE_LINUX_PLATFORM
    GTEST_SKIP() << "this build reads its input instead of mapping it";
#endif
    if (korvaneExe().extension() == ".exe") GTEST_SKIP() << "the Windows build reads its input";
    constexpr size_t BLOCKS = 20000, KEPT = 8191;  // a 96-byte block, then 64-byte ones: 8192's stream is at 512 KiB
    std::vector<Bytes> streams(BLOCKS, tessel::zlibCompress(Bytes(21, 'k'), {.level = 0}));  // 2 + 5 + 21 + 4 bytes
    streams[0] = tessel::zlibCompress(Bytes(53, 'k'), {.level = 0});
    put("in.tessel", tessel::makeContainer(streams));
    std::vector<size_t> sizes(KEPT, 21);
    sizes[0] = 53;
    const std::string lines = decodedLines(sizes, {});  // without the totals: the walk stops at block 8192
    const auto cut = [this](const std::string& out) {
        return out.find("File size") != std::string::npos && truncate(path("in.tessel").c_str(), 512 << 10) == 0;
    };
    expectRun({"in.tessel", "out.png"},
              reportStart("in.tessel", "out.png", 96 + (BLOCKS - 1) * 64) + lines.substr(0, lines.find("\nTotal")),
              "Error reading file: in.tessel\n", 1, {"in.tessel"}, {.onOutput = cut});
}

}  // namespace
}  // namespace clitest
