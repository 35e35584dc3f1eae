// Inputs and outputs of several gigabytes. Labelled "huge": run with
// `ctest --preset huge` (about 6 GB of memory and disk at the peak).

#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "deflate_tables.hpp"
#include "driver.hpp"
#include "tessel_writer.hpp"
#include "zlib_decompress.hpp"

namespace {

namespace fs = std::filesystem;
using tessel::Bytes;

// Writes a fixed-code DEFLATE stream symbol by symbol.
class FixedCodeWriter {
public:
    void bits(uint32_t value, int count) {
        buffer_ |= uint64_t{value} << count_;
        count_ += count;
        while (count_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    // Huffman codes go most significant bit first.
    void code(uint32_t value, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((value >> i) & 1U) << (length - 1 - i);
        bits(reversed, length);
    }
    void blockHeader(bool final) {
        bits(final ? 1 : 0, 1);
        bits(1, 2);
    }
    void literalLength(uint32_t symbol) {
        if (symbol < 144)
            code(0x30 + symbol, 8);
        else if (symbol < 256)
            code(0x190 + symbol - 144, 9);
        else if (symbol < 280)
            code(symbol - 256, 7);
        else
            code(0xC0 + symbol - 280, 8);
    }
    void copy(uint32_t length, uint32_t distance) {
        uint32_t l = korvane::LENGTH_SYMBOL_COUNT - 1;
        while (static_cast<uint32_t>(korvane::LENGTH_BASE[l]) > length) --l;
        literalLength(257 + l);
        bits(length - static_cast<uint32_t>(korvane::LENGTH_BASE[l]), korvane::LENGTH_EXTRA[l]);
        uint32_t d = korvane::DIST_SYMBOL_COUNT - 1;
        while (static_cast<uint32_t>(korvane::DIST_BASE[d]) > distance) --d;
        code(d, 5);
        bits(distance - static_cast<uint32_t>(korvane::DIST_BASE[d]), korvane::DIST_EXTRA[d]);
    }
    Bytes finish() {
        if (count_ > 0) out_.push_back(static_cast<uint8_t>(buffer_));
        count_ = 0;
        buffer_ = 0;
        return std::move(out_);
    }

private:
    Bytes out_;
    uint64_t buffer_ = 0;
    int count_ = 0;
};

// Raw inflate with system zlib in pieces: CRC-32 of the output, its size and the input used.
struct ZlibDigest {
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    uint64_t used = 0;
};

ZlibDigest zlibDigest(const Bytes& stream) {
    ZlibDigest digest;
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::vector<uint8_t> chunk(1 << 20);
    size_t offset = 2;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0 && offset < stream.size()) {
            const size_t take = std::min<size_t>(stream.size() - offset, 1 << 30);
            z.next_in = const_cast<Bytef*>(stream.data() + offset);
            z.avail_in = static_cast<uInt>(take);
            offset += take;
        }
        z.next_out = chunk.data();
        z.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        const size_t produced = chunk.size() - z.avail_out;
        digest.crc = crc32_z(digest.crc, chunk.data(), produced);
        digest.size += produced;
    }
    EXPECT_EQ(status, Z_STREAM_END);
    digest.used = z.total_in;
    inflateEnd(&z);
    return digest;
}

TEST(HugeInputs, StreamPastTwoGigabytesDecodesExactly) {
    // Random literals and copies of every length, with distances spread over
    // the whole window and many right at its far end, until 2.2 GiB.
    constexpr uint64_t TARGET = uint64_t{2200} << 20;
    std::mt19937_64 random(2026);
    FixedCodeWriter writer;
    writer.bits(0x78, 8);
    writer.bits(0x01, 8);
    uint64_t produced = 0;
    while (produced < TARGET) {
        writer.blockHeader(false);
        for (int symbol = 0; symbol < 50000; ++symbol) {
            const uint64_t r = random();
            if (produced < 3 || r % 8 == 0) {
                writer.literalLength(static_cast<uint32_t>(r >> 8) & 0xFF);
                ++produced;
                continue;
            }
            const auto length = static_cast<uint32_t>(3 + (r >> 16) % 256);
            uint32_t distance = 0;
            switch ((r >> 32) % 4) {
                case 0: distance = 32768 - static_cast<uint32_t>((r >> 40) % 8); break;
                case 1: distance = 1 + static_cast<uint32_t>((r >> 40) % 32768); break;
                case 2: distance = 1 + static_cast<uint32_t>((r >> 40) % 16); break;
                default: distance = 30000 + static_cast<uint32_t>((r >> 40) % 2769); break;
            }
            if (distance > produced) distance = static_cast<uint32_t>(produced);
            writer.copy(length, distance);
            produced += length;
        }
        writer.literalLength(256);
    }
    writer.blockHeader(true);
    writer.literalLength(256);
    Bytes stream = writer.finish();
    stream.insert(stream.end(), {0, 0, 0, 0});  // trailer: never read

    const ZlibDigest expected = zlibDigest(stream);
    ASSERT_EQ(expected.size, produced);
    ASSERT_GT(expected.size, uint64_t{1} << 31);

    size_t consumed = 0;
    const korvane::ByteBuffer decoded = korvane::zlibDecompress(stream.data(), stream.size(), consumed);
    EXPECT_EQ(decoded.size(), expected.size);
    EXPECT_EQ(crc32_z(crc32(0, nullptr, 0), decoded.data(), decoded.size()), expected.crc);
    EXPECT_EQ(consumed, expected.used + 6);
    EXPECT_EQ(consumed, stream.size());
}

// Frees the scratch files whatever happens.
struct ScratchDir {
    fs::path path = fs::temp_directory_path() / ("korvane-huge-" + std::to_string(::getpid()));
    ScratchDir() { fs::create_directories(path); }
    ~ScratchDir() { fs::remove_all(path); }
};

TEST(HugeInputs, ContainerOfGigabytesExtractsWhole) {
    constexpr uint64_t BLOCK_PAYLOAD = uint64_t{64} << 20;
    constexpr uint64_t BLOCKS = 40;  // 2.5 GiB in and out
    ScratchDir scratch;
    const uint64_t needed = 2 * BLOCKS * BLOCK_PAYLOAD + (uint64_t{512} << 20);
    if (fs::space(scratch.path).available < needed)
        GTEST_SKIP() << "needs " << (needed >> 30) << " GiB free in " << scratch.path;

    // Stored blocks: the file is as large as its output. The PNG signature
    // opens the payload, so everything decoded is written out.
    const fs::path input = scratch.path / "big.tessel";
    const fs::path output = scratch.path / "big.png";
    uLong expectedCrc = crc32(0, nullptr, 0);
    {
        std::ofstream file(input, std::ios::binary);
        std::mt19937_64 random(7);
        Bytes payload(65535);
        for (uint64_t block = 0; block < BLOCKS; ++block) {
            const Bytes header = tessel::blockHeader(static_cast<uint32_t>(block));
            file.write(reinterpret_cast<const char*>(header.data()), 32);
            file.write("\x78\x01", 2);
            for (uint64_t done = 0; done < BLOCK_PAYLOAD;) {
                const auto size = static_cast<uint16_t>(std::min<uint64_t>(payload.size(), BLOCK_PAYLOAD - done));
                for (size_t i = 0; i < size; i += 8) {
                    const uint64_t word = random();
                    std::memcpy(payload.data() + i, &word, std::min<size_t>(8, size - i));
                }
                if (block == 0 && done == 0) std::copy_n("\x89PNG\r\n\x1a\n", 8, payload.begin());
                done += size;
                const uint8_t stored[5] = {static_cast<uint8_t>(done == BLOCK_PAYLOAD ? 1 : 0),
                                           static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                           static_cast<uint8_t>(~size), static_cast<uint8_t>(~size >> 8)};
                file.write(reinterpret_cast<const char*>(stored), 5);
                file.write(reinterpret_cast<const char*>(payload.data()), size);
                expectedCrc = crc32_z(expectedCrc, payload.data(), size);
            }
            file.write("\0\0\0\0", 4);
        }
        ASSERT_TRUE(file.good());
    }

    const std::string inputPath = input.string();
    const std::string outputPath = output.string();
    char program[] = "Korvane";
    std::vector<char*> argv = {program, const_cast<char*>(inputPath.c_str()), const_cast<char*>(outputPath.c_str())};
    ASSERT_EQ(korvane::runKorvane(static_cast<int>(argv.size()), argv.data()), 0);

    ASSERT_EQ(fs::file_size(output), BLOCKS * BLOCK_PAYLOAD);
    std::ifstream written(output, std::ios::binary);
    std::vector<char> chunk(1 << 24);
    uLong crc = crc32(0, nullptr, 0);
    while (written.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || written.gcount() > 0)
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<size_t>(written.gcount()));
    EXPECT_EQ(crc, expectedCrc);
}

}  // namespace
