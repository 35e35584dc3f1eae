// The block walk and the PNG search, seen from the command line.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

namespace fs = std::filesystem;

const std::string LEAD_IN = "Tessel lead-in\n";  // 15 bytes, no signature
const Bytes PNG_BODY =
    join({PNG_SIGNATURE, bytesOf(std::string_view("\0\0\0\x0dIHDR fake image body, never parsed", 38))});

Bytes compress(const Bytes& data) { return tessel::zlibCompress(data); }

TEST_F(CliTest, FiftyOneByteExample) {
    put("in.tessel", exampleContainer());
    const RunResult result = run({"in.tessel", "out.png"});
    EXPECT_EQ(result.out,
              "=== Korvane ===\n"
              "PNG extraction from CompressionFile\n"
              "(no external dependencies)\n"
              "\n"
              "Input file:  in.tessel\n"
              "Output file: out.png\n"
              "\n"
              "File size: 51 bytes\n"
              "Block 1: decompressed 8 bytes\n"
              "\n"
              "Total blocks: 1\n"
              "Total decompressed: 8 bytes\n"
              "PNG found at offset: 0\n"
              "PNG size: 8 bytes\n"
              "\n"
              "Success! PNG saved to: out.png\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(get("out.png"), PNG_SIGNATURE);
}

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
    const RunResult result = run({"in.tessel"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", container.size()) + GetParam().outAfterSize);
    EXPECT_EQ(result.err, GetParam().err);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
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
    return {name,
            join({tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)}),
                  tessel::blockHeader(3), stream}),
            "Block 1: decompressed 15 bytes\nBlock 2: decompressed 46 bytes\n",
            "Decompression error in block 3: " + message + "\n"};
}

Bytes truncatedText() {
    Bytes stream = compress(bytesOf(std::string(3000, 'a') + "some text that Huffman codes " + std::string(100, 'b')));
    stream.resize(stream.size() / 2);
    return stream;
}

// DistanceBeforeOutput: a fixed-code block whose first symbols are length
// 257 and distance code 0, with nothing decoded yet.
INSTANTIATE_TEST_SUITE_P(
    Container, Rejected,
    ::testing::Values(
        shortFile(0), shortFile(1), shortFile(4), shortFile(18), shortFile(19), shortFile(31), shortFile(32),
        notTessel("ThirtyThreeZeros", Bytes(33, 0)), notTessel("MagicOneByteLate", join({{0}, exampleContainer()})),
        notTessel("FirstMagicByteLowercase", exampleWith(4, 'c')),
        notTessel("LastMagicByteChanged", exampleWith(18, 'E')), notTessel("PlainText", bytesOf(std::string(200, 'T'))),
        badThirdBlock("FiveBytes", {0x78, 0x01, 0x01, 0x00, 0x00}, "Data too small for zlib"),
        badThirdBlock("MethodNine", {0x79, 0x9C, 0x03, 0x00, 0, 0, 0, 1}, "Unsupported compression method"),
        badThirdBlock("HeaderChecksum", {0x78, 0x9D, 0x03, 0x00, 0, 0, 0, 1}, "Invalid zlib header checksum"),
        badThirdBlock("PresetDictionary", {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00}, "Preset dictionary not supported"),
        badThirdBlock("BlockTypeThree", {0x78, 0x01, 0x07, 0x00, 0, 0, 0, 0}, "Invalid block type"),
        badThirdBlock("StoredLengthMismatch", {0x78, 0x01, 0x01, 0x05, 0x00, 0xFA, 0xFE, 'a', 'b', 'c', 'd', 'e'},
                      "Invalid stored block"),
        badThirdBlock("StoredRunsPastEnd", {0x78, 0x01, 0x01, 0x10, 0x00, 0xEF, 0xFF, 'a', 'b', 'c'},
                      "Unexpected end of data"),
        badThirdBlock("DistanceBeforeOutput", {0x78, 0x01, 0x03, 0x02, 0x00, 0, 0, 0, 0}, "Invalid distance"),
        badThirdBlock("TruncatedCompressed", truncatedText(), "Unexpected end of data")),
    ByName());

struct TailCase {
    const char* name;
    size_t cut;  // bytes taken off the end of the second stream's trailer
    Bytes junk;  // then appended
};

class AfterLastBlock : public CliTest, public ::testing::WithParamInterface<TailCase> {};

// Bytes after the last stream that do not start a block are ignored. The
// 4-byte trailer is counted but never read, so a cut-off trailer is harmless.
TEST_P(AfterLastBlock, TheWalkEndsNormally) {
    Bytes container = tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)});
    container.resize(container.size() - GetParam().cut);
    container.insert(container.end(), GetParam().junk.begin(), GetParam().junk.end());
    expectExtraction(container, {bytesOf(LEAD_IN), PNG_BODY}, LEAD_IN.size());
}

// A bare header with nothing after it is never examined, so it is junk too.
INSTANTIATE_TEST_SUITE_P(Container, AfterLastBlock,
                         ::testing::Values(TailCase{"ShortJunk", 0, bytesOf("xyz")},
                                           TailCase{"LongJunk", 0, bytesOf(std::string(500, 'j'))},
                                           TailCase{"BareHeader", 0, tessel::blockHeader(7)},
                                           TailCase{"TrailerCutByOne", 1, {}}, TailCase{"TrailerCutByThree", 3, {}},
                                           TailCase{"NoTrailer", 4, {}}),
                         ByName());

TEST_F(CliTest, ZeroLengthBlocksAreCountedAndSkipped) {
    const Bytes emptyDeflate = compress({});
    const Bytes emptyStored = {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01};
    const Bytes container =
        tessel::makeContainer(std::vector{emptyDeflate, emptyStored, compress(PNG_BODY), emptyDeflate});
    expectExtraction(container, {{}, {}, PNG_BODY, {}}, 0);
}

struct SearchCase {
    const char* name;
    std::vector<std::string> blocks;
    std::optional<size_t> offset;
};

const std::string SIG = "\x89PNG\r\n\x1A\n";

class SignatureSearch : public CliTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SignatureSearch, FindsTheFirstCompleteSignature) {
    std::vector<Bytes> blocks;
    std::vector<Bytes> streams;
    for (const std::string& block : GetParam().blocks) {
        blocks.push_back(bytesOf(block));
        streams.push_back(compress(blocks.back()));
    }
    expectExtraction(tessel::makeContainer(streams), blocks, GetParam().offset);
}

INSTANTIATE_TEST_SUITE_P(
    Container, SignatureSearch,
    ::testing::Values(SearchCase{"NothingDecoded", {"", ""}, std::nullopt},
                      SearchCase{"NoSignatureInAnyBlock", {LEAD_IN, "PNG IHDR IDAT IEND", "\x89PNG"}, std::nullopt},
                      SearchCase{"LastByteWrong", {"ab" + SIG.substr(0, 7) + "\x0B" + "cd"}, std::nullopt},
                      SearchCase{"SevenBytesAtTheEnd", {"abc", SIG.substr(0, 7)}, std::nullopt},
                      SearchCase{"ExactlyAtTheEnd", {"abc" + SIG}, 3},
                      SearchCase{"WholeOutputIsTheSignature", {SIG}, 0},
                      SearchCase{"AfterFalseStarts", {"\x89\x89PN\x89PNG\r\n\x1A" + SIG + "x"}, 11},
                      SearchCase{"FirstOfTwo", {"ab" + SIG + "mid", SIG + "end"}, 2},
                      SearchCase{"SplitAfterOneByte", {"ab" + SIG.substr(0, 1), SIG.substr(1) + "body"}, 2},
                      SearchCase{"SplitInTheMiddle", {"ab" + SIG.substr(0, 4), SIG.substr(4) + "body"}, 2},
                      SearchCase{"SplitBeforeLastByte", {"ab" + SIG.substr(0, 7), SIG.substr(7) + "body"}, 2},
                      SearchCase{"SplitOverThree", {"ab" + SIG.substr(0, 3), SIG.substr(3, 2), SIG.substr(5)}, 2},
                      SearchCase{"SplitAroundEmptyBlock", {"ab" + SIG.substr(0, 5), "", SIG.substr(5) + "body"}, 2}),
    ByName());

// The uncompressed image data makes the streams do real work; every block
// is compressed a different way, and a near-signature precedes the PNG.
TEST_F(CliTest, RealPngAcrossDifferentlyCompressedBlocks) {
    const std::string source = "/usr/share/icons/Tango/32x32/animations/process-working.png";
    if (!fs::exists(source)) GTEST_SKIP() << source << " is not installed";
    const Bytes png = tessel::pngWithStoredImageData(tessel::readWholeFile(source));
    const Bytes preamble = bytesOf("Recovered from a scan.\n\x89PNG\r\n\x1A \n");
    const std::vector<Bytes> parts = tessel::splitEvenly(join({preamble, png}), 7);
    const tessel::Piece mixed[] = {{4000, 0, Z_DEFAULT_STRATEGY}, {4000, 6, Z_FIXED}, {4000, 9, Z_DEFAULT_STRATEGY}};
    const std::vector<Bytes> streams = {
        tessel::zlibCompress(parts[0], {.level = 0}),
        tessel::zlibCompress(parts[1], {.level = 6, .strategy = Z_FIXED}),
        tessel::zlibCompress(parts[2], {.level = 9}),
        tessel::zlibCompress(parts[3], {.level = 1, .strategy = Z_HUFFMAN_ONLY}),
        tessel::zlibCompress(parts[4], {.level = 6, .strategy = Z_RLE}),
        tessel::zlibCompress(parts[5], {.level = 9, .windowBits = 9, .memLevel = 1}),
        tessel::zlibCompressPieces(parts[6], mixed),
    };
    expectExtraction(tessel::makeContainer(streams), parts, preamble.size());
    EXPECT_EQ(get("in.png"), png);
}

// zlib's own reading of a container: inflate each block in turn, the next
// header following the stream's trailer.
Bytes inflateContainer(Bytes container) {
    Bytes joined;
    for (size_t offset = 0;
         offset + 32 < container.size() && std::memcmp(&container[offset + 4], "CompressionFile", 15) == 0;) {
        z_stream z{};
        EXPECT_EQ(inflateInit(&z), Z_OK);
        z.next_in = &container[offset + 32];
        z.avail_in = static_cast<uInt>(container.size() - offset - 32);
        int status = Z_OK;
        while (status == Z_OK) {
            uint8_t chunk[4096];
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            status = inflate(&z, Z_NO_FLUSH);
            joined.insert(joined.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        }
        EXPECT_EQ(status, Z_STREAM_END);
        offset += 32 + z.total_in;
        inflateEnd(&z);
        if (status != Z_STREAM_END) break;
    }
    return joined;
}

TEST_F(CliTest, ShippedSample) {
    const Bytes sample = tessel::readWholeFile(KORVANE_SAMPLE);
    put("sample.tessel", sample);
    const RunResult result = run({"sample.tessel"});
    EXPECT_EQ(result.out,
              "=== Korvane ===\n"
              "PNG extraction from CompressionFile\n"
              "(no external dependencies)\n"
              "\n"
              "Input file:  sample.tessel\n"
              "Output file: sample.png\n"
              "\n"
              "File size: 2432 bytes\n"
              "Block 1: decompressed 1430 bytes\n"
              "Block 2: decompressed 1430 bytes\n"
              "Block 3: decompressed 1430 bytes\n"
              "\n"
              "Total blocks: 3\n"
              "Total decompressed: 4290 bytes\n"
              "PNG found at offset: 78\n"
              "PNG size: 4212 bytes\n"
              "\n"
              "Success! PNG saved to: sample.png\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    const Bytes joined = inflateContainer(sample);
    ASSERT_EQ(joined.size(), 4290u);
    EXPECT_EQ(get("sample.png"), Bytes(joined.begin() + 78, joined.end()));
}

}  // namespace
}  // namespace clitest
