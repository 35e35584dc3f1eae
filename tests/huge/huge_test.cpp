// Inputs and outputs of several gigabytes. Labelled "huge": run with
// `ctest --preset huge` (about 6.5 GB of memory and disk at the peak).

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "../decoder/decode_support.hpp"
#include "driver.hpp"
#include "tessel_format.hpp"
#include "tessel_writer.hpp"

namespace {

namespace fs = std::filesystem;
using tessel::Bytes;

struct ScratchDir {  // removed whatever happens
    fs::path path = fs::temp_directory_path() / ("korvane-huge-" + std::to_string(::getpid()));
    ScratchDir() { fs::create_directories(path); }
    ~ScratchDir() { fs::remove_all(path); }
};

// Fixed-code random literals and copies of every length, at distances over the
// whole window (many at its far end), decoding to just over 2 GiB.
Bytes streamPastTwoGigabytes() {
    std::mt19937_64 random(2026);
    deflate_writer::BitWriter w = deflate_writer::zlibHeader();
    for (uint64_t produced = 0; produced < (uint64_t{2100} << 20);) {
        auto body = deflate_writer::fixedBlock(w, false);
        for (int symbol = 0; symbol < 50000; ++symbol) {
            const uint64_t r = random();
            const uint64_t distances[] = {32768 - (r >> 40) % 8, 1 + (r >> 40) % 32768, 1 + (r >> 40) % 16,
                                          30000 + (r >> 40) % 2769};
            const auto length = static_cast<int>(3 + (r >> 16) % 256);
            const bool literal = produced < 3 || r % 8 == 0;
            literal ? body.literal(static_cast<int>(r >> 8) & 0xFF)
                    : body.copy(length, static_cast<int>(std::min(distances[(r >> 32) % 4], produced)));
            produced += literal ? 1 : static_cast<uint64_t>(length);
        }
        body.end();
    }
    deflate_writer::fixedBlock(w, true).end();
    return w.data();
}

// One container through the whole program, its block headers and output past
// 2 GiB: 32 blocks of stored data (2 GiB, opening with the PNG signature), the
// stream above (checked against zlib), and a last block that the walk finds
// only if the count of bytes that stream used is exact.
TEST(HugeInputs, ContainerOfGigabytesWithAStreamPastTwoGigabytes) {
    const ScratchDir scratch;
    if (fs::space(scratch.path).available < (uint64_t{7} << 30)) GTEST_SKIP() << "needs 7 GiB free in /tmp";
    std::string input = (scratch.path / "big.tessel").string(), output = (scratch.path / "big.png").string();
    std::ofstream file(input, std::ios::binary);
    uLong expectedCrc = crc32(0, nullptr, 0);
    uint64_t expectedSize = 0;
    auto writeBlock = [&file](const Bytes& stream) {  // a header, the stream and a trailer that is never read
        for (const Bytes& part : {tessel::blockHeader(0), stream, Bytes(4, 0)})
            file.write(reinterpret_cast<const char*>(part.data()), static_cast<std::streamsize>(part.size()));
    };

    std::mt19937 random(7);
    Bytes payload(65535);  // each stored block the same random bytes but for its number at offset 8
    for (uint8_t& b : payload) b = static_cast<uint8_t>(random());
    std::copy_n(korvane::PNG_SIGNATURE, 8, payload.begin());
    for (uint32_t block = 0; block < 32; ++block) {
        deflate_writer::BitWriter stream = deflate_writer::zlibHeader();
        for (uint64_t stored = 0; stored < 1024; ++stored, expectedSize += payload.size()) {
            const uint64_t number = uint64_t{block} * 1024 + stored;
            std::memcpy(&payload[8], &number, sizeof number);
            expectedCrc = crc32_z(expectedCrc, payload.data(), payload.size());
            stream.storedBlock(stored == 1023, payload);
        }
        writeBlock(stream.data());
    }
    {
        const Bytes stream = streamPastTwoGigabytes();
        const std::optional<tessel::Inflated> inflated = tessel::zlibInflate(std::span(stream).subspan(2), true);
        ASSERT_TRUE(inflated && inflated->used + 2 == stream.size() && inflated->bytes.size() > uint64_t{1} << 31);
        expectedCrc = crc32_z(expectedCrc, inflated->bytes.data(), inflated->bytes.size());
        expectedSize += inflated->bytes.size();
        writeBlock(stream);
    }
    writeBlock({0x78, 0x01, 0x01, 0x03, 0x00, 0xFC, 0xFF, 'e', 'n', 'd'});
    expectedCrc = crc32_z(expectedCrc, reinterpret_cast<const Bytef*>("end"), 3);
    expectedSize += 3;
    file.close();
    ASSERT_GT(fs::file_size(input), uint64_t{1} << 31);

    char program[] = "Korvane";
    char* argv[] = {program, input.data(), output.data()};
    ASSERT_EQ(korvane::runKorvane(3, argv), 0);
    ASSERT_EQ(fs::file_size(output), expectedSize);
    std::ifstream written(output, std::ios::binary);
    uLong crc = crc32(0, nullptr, 0);
    for (std::vector<char> chunk(1 << 24); written.read(chunk.data(), 1 << 24) || written.gcount() > 0;)
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<size_t>(written.gcount()));
    EXPECT_EQ(crc, expectedCrc);
}

}  // namespace
