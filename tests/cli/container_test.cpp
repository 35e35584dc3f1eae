// The block walk and the PNG search, seen from the command line.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <tuple>

#include "cli_fixture.hpp"

namespace clitest {
namespace {

namespace fs = std::filesystem;

const std::string LEAD_IN = "Tessel lead-in\n";  // 15 bytes, no signature
const Bytes PNG_BODY = join({PNG_SIGNATURE, bytesOf(std::string_view("\0\0\0\x0dIHDR fake image body, never parsed", 38))});

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

// Up to 32 bytes no header is looked at, even a complete one: the walk needs
// at least one byte after the header.
class ShortFile : public CliTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ShortFile, HasNoBlocksAndNoSignature) {
    const Bytes example = exampleContainer();
    put("in.tessel", Bytes(example.begin(), example.begin() + static_cast<std::ptrdiff_t>(GetParam())));
    const RunResult result = run({"in.tessel"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", GetParam()) + totalsLines(0, 0));
    EXPECT_EQ(result.err, NO_SIGNATURE);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

INSTANTIATE_TEST_SUITE_P(Container, ShortFile, ::testing::Values(0, 1, 4, 18, 19, 31, 32));

struct NamedBytes {
    const char* name;
    Bytes bytes;
};

class NotTessel : public CliTest, public ::testing::WithParamInterface<NamedBytes> {};

TEST_P(NotTessel, FirstHeaderWithoutMagicIsRejected) {
    const Bytes& bytes = GetParam().bytes;
    put("in.tessel", bytes);
    const RunResult result = run({"in.tessel"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", bytes.size()));
    EXPECT_EQ(result.err, NOT_TESSEL);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

Bytes exampleWith(size_t at, uint8_t value) {
    Bytes bytes = exampleContainer();
    bytes[at] = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Container, NotTessel,
    ::testing::Values(NamedBytes{"ThirtyThreeZeros", Bytes(33, 0)},
                      NamedBytes{"MagicOneByteLate", join({{0}, exampleContainer()})},
                      NamedBytes{"FirstMagicByteLowercase", exampleWith(4, 'c')},
                      NamedBytes{"LastMagicByteChanged", exampleWith(18, 'E')},
                      NamedBytes{"PlainText", bytesOf(std::string(200, 'T'))}),
    ByName());

struct JunkCase {
    const char* name;
    Bytes junk;
};

class TrailingJunk : public CliTest, public ::testing::WithParamInterface<JunkCase> {};

TEST_P(TrailingJunk, IsIgnoredAfterTwoBlocks) {
    const Bytes container = join({tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)}),
                                  GetParam().junk});
    expectExtraction(container, {bytesOf(LEAD_IN), PNG_BODY}, LEAD_IN.size());
}

// A bare header with nothing after it is not examined, so it is junk too.
INSTANTIATE_TEST_SUITE_P(Container, TrailingJunk,
                         ::testing::Values(JunkCase{"ShortTail", bytesOf("xyz")},
                                           JunkCase{"LongTextTail", bytesOf(std::string(500, 'j'))},
                                           JunkCase{"BareHeader", tessel::blockHeader(7)}),
                         ByName());

struct BadBlockCase {
    const char* name;
    Bytes stream;
    const char* message;
};

class FailingThirdBlock : public CliTest, public ::testing::WithParamInterface<BadBlockCase> {};

// Blocks 1 and 2 already hold a PNG: a failure must still end the run.
TEST_P(FailingThirdBlock, StopsWithTheDecoderMessage) {
    const Bytes container = join({tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)}),
                                  tessel::blockHeader(3), GetParam().stream});
    put("in.tessel", container);
    const RunResult result = run({"in.tessel"});
    EXPECT_EQ(result.out, reportStart("in.tessel", "in.png", container.size()) + "Block 1: decompressed 15 bytes\n" +
                              "Block 2: decompressed " + std::to_string(PNG_BODY.size()) + " bytes\n");
    EXPECT_EQ(result.err, std::string("Decompression error in block 3: ") + GetParam().message + "\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(files(), std::set<std::string>{"in.tessel"});
}

Bytes truncatedText() {
    Bytes stream = compress(bytesOf(std::string(3000, 'a') + "some text that Huffman codes " + std::string(100, 'b')));
    stream.resize(stream.size() / 2);
    return stream;
}

// The fixed-code stream holds a length symbol (257) and distance symbol 0
// before any byte was produced.
INSTANTIATE_TEST_SUITE_P(
    Container, FailingThirdBlock,
    ::testing::Values(
        BadBlockCase{"FiveBytes", {0x78, 0x01, 0x01, 0x00, 0x00}, "Data too small for zlib"},
        BadBlockCase{"MethodNine", {0x79, 0x9C, 0x03, 0x00, 0, 0, 0, 1}, "Unsupported compression method"},
        BadBlockCase{"HeaderChecksum", {0x78, 0x9D, 0x03, 0x00, 0, 0, 0, 1}, "Invalid zlib header checksum"},
        BadBlockCase{"PresetDictionary", {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00}, "Preset dictionary not supported"},
        BadBlockCase{"BlockTypeThree", {0x78, 0x01, 0x07, 0x00, 0, 0, 0, 0}, "Invalid block type"},
        BadBlockCase{"StoredLengthMismatch", {0x78, 0x01, 0x01, 0x05, 0x00, 0xFA, 0xFE, 'a', 'b', 'c', 'd', 'e'},
                     "Invalid stored block"},
        BadBlockCase{"StoredRunsPastEnd", {0x78, 0x01, 0x01, 0x10, 0x00, 0xEF, 0xFF, 'a', 'b', 'c'},
                     "Unexpected end of data"},
        BadBlockCase{"DistanceBeforeOutput", {0x78, 0x01, 0x03, 0x02, 0x00, 0, 0, 0, 0}, "Invalid distance"},
        BadBlockCase{"TruncatedCompressed", truncatedText(), "Unexpected end of data"}),
    ByName());

TEST_F(CliTest, ZeroLengthBlocksAreCountedAndSkipped) {
    const Bytes emptyDeflate = compress({});
    const Bytes emptyStored = {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01};
    const Bytes container = tessel::makeContainer(std::vector{emptyDeflate, emptyStored, compress(PNG_BODY), emptyDeflate});
    expectExtraction(container, {{}, {}, PNG_BODY, {}}, 0);
}

// The 4-byte trailer is counted but never read: cutting it off the last
// stream leaves a normal run.
class CutTrailer : public CliTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(CutTrailer, LastBlockStillCounts) {
    Bytes container = tessel::makeContainer(std::vector{compress(bytesOf(LEAD_IN)), compress(PNG_BODY)});
    container.resize(container.size() - GetParam());
    expectExtraction(container, {bytesOf(LEAD_IN), PNG_BODY}, LEAD_IN.size());
}

INSTANTIATE_TEST_SUITE_P(Container, CutTrailer, ::testing::Values(1, 2, 3, 4));

// The signature split after `first` bytes, optionally with an empty block
// between the two halves.
class SplitSignature : public CliTest, public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

TEST_P(SplitSignature, IsFoundAcrossBlocks) {
    const auto [first, emptyBetween] = GetParam();
    std::vector<Bytes> blocks = {
        join({bytesOf(LEAD_IN), Bytes(PNG_SIGNATURE.begin(), PNG_SIGNATURE.begin() + static_cast<std::ptrdiff_t>(first))}),
        Bytes(PNG_BODY.begin() + static_cast<std::ptrdiff_t>(first), PNG_BODY.end())};
    if (emptyBetween) blocks.insert(blocks.begin() + 1, Bytes{});
    std::vector<Bytes> streams;
    for (const Bytes& block : blocks) streams.push_back(compress(block));
    expectExtraction(tessel::makeContainer(streams), blocks, LEAD_IN.size());
}

INSTANTIATE_TEST_SUITE_P(Container, SplitSignature, ::testing::Combine(::testing::Range<size_t>(1, 8), ::testing::Bool()));

struct SearchCase {
    const char* name;
    std::vector<std::string> blocks;
    std::optional<size_t> offset;
};

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

const std::string SIG = "\x89PNG\r\n\x1A\n";

INSTANTIATE_TEST_SUITE_P(
    Container, SignatureSearch,
    ::testing::Values(SearchCase{"NothingDecoded", {""}, std::nullopt},
                      SearchCase{"NoSignatureInAnyBlock", {LEAD_IN, "PNG IHDR IDAT IEND", "\x89PNG"}, std::nullopt},
                      SearchCase{"LastByteWrong", {"ab" + SIG.substr(0, 7) + "\x0B" + "cd"}, std::nullopt},
                      SearchCase{"SevenBytesAtTheEnd", {"abc", SIG.substr(0, 7)}, std::nullopt},
                      SearchCase{"ExactlyAtTheEnd", {"abc" + SIG}, 3},
                      SearchCase{"WholeOutputIsTheSignature", {SIG}, 0},
                      SearchCase{"AfterFalseStarts", {"\x89\x89PN\x89PNG\r\n\x1A" + SIG + "x"}, 11},
                      SearchCase{"FirstOfTwo", {"ab" + SIG + "mid", SIG + "end"}, 2}),
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
