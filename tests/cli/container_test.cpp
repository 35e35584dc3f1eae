// The block walk and the PNG search, seen from the command line.

#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

namespace fs = std::filesystem;

const std::string LEAD_IN = "Tessel lead-in\n";  // 15 bytes, no signature
const Bytes PNG_BODY =
    join({PNG_SIGNATURE, bytesOf(std::string_view("\0\0\0\x0dIHDR fake image body, never parsed", 38))});

Bytes compress(const Bytes& data) { return tessel::zlibCompress(data); }
// Two blocks: the lead-in, then a PNG.
Bytes twoBlocks() { return tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)}); }

struct RejectCase {
    std::string name;
    Bytes container;
    std::string outAfterSize;  // what follows the file size line
    std::string err;
};

class Rejected : public CliTest, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(Rejected, EndsWithStatusOneAndNoOutputFile) {
    const Bytes& container = GetParam().container;
    put("in.tessel", container);
    expectRun({"in.tessel"}, reportStart("in.tessel", "in.png", container.size()) + GetParam().outAfterSize,
              GetParam().err, 1, {"in.tessel"});
}

// Up to 32 bytes no header is looked at, even a complete one: the walk needs
// at least one byte after the header.
RejectCase shortFile(size_t size) {
    const Bytes example = exampleContainer();
    return {"Short" + std::to_string(size), Bytes(example.begin(), example.begin() + static_cast<std::ptrdiff_t>(size)),
            totalsLines(0, 0), NO_SIGNATURE};
}

RejectCase notTessel(const char* name, Bytes bytes) { return {name, std::move(bytes), "", NOT_TESSEL}; }

Bytes exampleWith(size_t at, uint8_t value) {
    Bytes bytes = exampleContainer();
    bytes[at] = value;
    return bytes;
}

// Blocks 1 and 2 already hold a PNG: a failing third block must still end the run.
RejectCase badThirdBlock(const char* name, const Bytes& stream, const std::string& message) {
    return {name, join({twoBlocks(), tessel::blockHeader(3), stream}),
            "Block 1: decompressed 15 bytes\nBlock 2: decompressed 46 bytes\n",
            "Decompression error in block 3: " + message + "\n"};
}

// DistanceBeforeOutput: a fixed-code block whose first symbols are length
// 257 and distance code 0, with nothing decoded yet.
INSTANTIATE_TEST_SUITE_P(
    Container, Rejected,
    ::testing::Values(shortFile(0), shortFile(32), notTessel("ThirtyThreeZeros", Bytes(33, 0)),
                      notTessel("FirstMagicByteLowercase", exampleWith(4, 'c')),
                      notTessel("LastMagicByteChanged", exampleWith(18, 'E')),
                      badThirdBlock("FiveBytes", {0x78, 0x01, 0x01, 0x00, 0x00}, "Data too small for zlib"),
                      badThirdBlock("BlockTypeThree", {0x78, 0x01, 0x07, 0x00, 0, 0, 0, 0}, "Invalid block type"),
                      badThirdBlock("DistanceBeforeOutput", {0x78, 0x01, 0x03, 0x02, 0x00, 0, 0, 0, 0},
                                    "Invalid distance")),
    ByName());

// Every line is flushed as it is printed: a run killed while it writes the
// output (by the file size limit) has shown every line before that.
TEST_F(CliTest, EveryLineIsFlushedAsItIsPrinted) {
    if (!testWrapper().empty()) GTEST_SKIP() << "the limit would stop the wrapper too";
    const Bytes png = join({PNG_SIGNATURE, Bytes(4000, 'p')});
    const Bytes container = tessel::makeContainer(std::vector<Bytes>{compress(png)});
    put("in.tessel", container);
    const RunResult result = run({"in.tessel"}, {.fileSizeLimit = 1024});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", container.size()) + "Block 1: decompressed 4008 bytes\n" +
                              totalsLines(1, 4008) + foundLines(0, 4008));
    EXPECT_EQ(result.status, 128 + SIGXFSZ);
}

struct ExtractionCase {
    std::string name;
    Bytes container;
    std::vector<Bytes> blocks;     // what its blocks decode to
    std::optional<size_t> offset;  // of the first signature in the joined bytes, if any
};

class Extraction : public CliTest, public ::testing::WithParamInterface<ExtractionCase> {};

TEST_P(Extraction, ReportsEveryBlockAndWritesFromTheFirstSignature) {
    expectExtraction(GetParam().container, GetParam().blocks, GetParam().offset);
}

// Bytes after the last stream that do not start a block are ignored. The
// 4-byte trailer is counted but never read, so a cut-off trailer is harmless.
ExtractionCase tail(const char* name, size_t cut, const Bytes& junk) {
    Bytes container = twoBlocks();
    container.resize(container.size() - cut);
    container.insert(container.end(), junk.begin(), junk.end());
    return {name, container, {bytesOf(LEAD_IN), PNG_BODY}, LEAD_IN.size()};
}

// One block per string, which it decodes to.
ExtractionCase search(const char* name, const std::vector<std::string>& blocks, std::optional<size_t> offset) {
    ExtractionCase c{name, {}, {}, offset};
    std::vector<Bytes> streams;
    for (const std::string& block : blocks) {
        c.blocks.push_back(bytesOf(block));
        streams.push_back(compress(c.blocks.back()));
    }
    c.container = tessel::makeContainer(streams);
    return c;
}

const std::string SIG = "\x89PNG\r\n\x1A\n";

// One stream whose DEFLATE blocks (stored, fixed, dynamic) split the signature
// twice, the search being fed block by block.
ExtractionCase splitInsideOneStream() {
    const Bytes data = bytesOf("ab" + SIG + "body");
    const tessel::Piece pieces[] = {{4, 0, Z_DEFAULT_STRATEGY}, {3, 6, Z_FIXED}, {100, 9, Z_DEFAULT_STRATEGY}};
    return {"SplitInsideOneStream",
            tessel::makeContainer(std::vector<Bytes>{tessel::zlibCompressPieces(data, pieces)}),
            {data},
            2};
}

const Bytes EMPTY_STORED = {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01};

// A bare header with nothing after it is never examined, so it is junk too.
// Blocks that decode to nothing are counted and skipped.
INSTANTIATE_TEST_SUITE_P(
    Container, Extraction,
    ::testing::Values(tail("LongJunk", 0, bytesOf(std::string(500, 'j'))),
                      tail("BareHeader", 0, tessel::blockHeader(7)), tail("TrailerCutByOne", 1, {}),
                      tail("NoTrailer", 4, {}),
                      ExtractionCase{"ZeroLengthBlocks",
                                     tessel::makeContainer(std::vector{compress({}), EMPTY_STORED, compress(PNG_BODY)}),
                                     {{}, {}, PNG_BODY},
                                     0},
                      search("NothingDecoded", {"", ""}, std::nullopt),
                      search("LastByteWrong", {"ab" + SIG.substr(0, 7) + "\x0B" + "cd"}, std::nullopt),
                      search("SevenBytesAtTheEnd", {"abc", SIG.substr(0, 7)}, std::nullopt),
                      search("ExactlyAtTheEnd", {"abc" + SIG}, 3), search("WholeOutputIsTheSignature", {SIG}, 0),
                      search("AfterFalseStarts", {"\x89\x89PN\x89PNG\r\n\x1A" + SIG + "x"}, 11),
                      search("FirstOfTwo", {"ab" + SIG + "mid", SIG + "end"}, 2),
                      search("SplitInTheMiddle", {"ab" + SIG.substr(0, 4), SIG.substr(4) + "body"}, 2),
                      search("SplitAroundEmptyBlock", {"ab" + SIG.substr(0, 5), "", SIG.substr(5) + "body"}, 2),
                      splitInsideOneStream()),
    ByName());

// The uncompressed image data makes the streams do real work; every block
// is compressed a different way, and a near-signature precedes the PNG.
TEST_F(CliTest, RealPngAcrossDifferentlyCompressedBlocks) {
    const std::string source = "/usr/share/icons/Tango/32x32/animations/process-working.png";
    if (!fs::exists(source)) GTEST_SKIP() << source << " is not installed";
    const Bytes png = tessel::pngWithStoredImageData(tessel::readWholeFile(source));
    const Bytes preamble = bytesOf("Recovered from a scan.\n\x89PNG\r\n\x1A \n");
    const std::vector<Bytes> parts = tessel::splitEvenly(join({preamble, png}), 7);
    const tessel::ZlibOptions options[] = {{.level = 0},
                                           {.level = 6, .strategy = Z_FIXED},
                                           {.level = 9},
                                           {.level = 1, .strategy = Z_HUFFMAN_ONLY},
                                           {.level = 6, .strategy = Z_RLE},
                                           {.level = 9, .windowBits = 9, .memLevel = 1}};
    const tessel::Piece mixed[] = {{4000, 0, Z_DEFAULT_STRATEGY}, {4000, 6, Z_FIXED}, {4000, 9, Z_DEFAULT_STRATEGY}};
    std::vector<Bytes> streams;
    for (size_t i = 0; i < 6; ++i) streams.push_back(tessel::zlibCompress(parts[i], options[i]));
    streams.push_back(tessel::zlibCompressPieces(parts[6], mixed));
    expectExtraction(tessel::makeContainer(streams), parts, preamble.size());
}

// Made from examples/preamble.txt (78 bytes) and the PNG in
// examples/calculator.png with its image data stored (see README).
TEST_F(CliTest, ShippedSample) {
    const fs::path examples = fs::path(KORVANE_SAMPLE).parent_path();
    put("sample.tessel", tessel::readWholeFile(KORVANE_SAMPLE));
    expectRun(
        {"sample.tessel"},
        reportStart("sample.tessel", "sample.png", 2432) +
            "Block 1: decompressed 1430 bytes\nBlock 2: decompressed 1430 bytes\nBlock 3: decompressed 1430 bytes\n" +
            totalsLines(3, 4290) + foundLines(78, 4212) + successLines("sample.png"),
        "", 0, {"sample.png", "sample.tessel"});
    EXPECT_EQ(get("sample.png"),
              tessel::pngWithStoredImageData(tessel::readWholeFile((examples / "calculator.png").string())));
}

}  // namespace
}  // namespace clitest
