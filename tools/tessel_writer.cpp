#include "tessel_writer.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tessel {

namespace {

struct Deflater {
    z_stream stream{};
    uint8_t chunk[1 << 16];
    explicit Deflater(const ZlibOptions& options) {
        if (deflateInit2(&stream, options.level, Z_DEFLATED, options.windowBits, options.memLevel, options.strategy) !=
            Z_OK)
            throw std::runtime_error("deflateInit2 failed");
    }
    ~Deflater() { deflateEnd(&stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void run(std::span<const uint8_t> input, int flush, Bytes& out) {
        stream.next_in = const_cast<Bytef*>(input.data());
        stream.avail_in = static_cast<uInt>(input.size());
        for (;;) {
            stream.next_out = chunk;
            stream.avail_out = sizeof chunk;
            const int status = deflate(&stream, flush);
            if (status == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
            out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
            if (stream.avail_out != 0 && stream.avail_in == 0 && (flush != Z_FINISH || status == Z_STREAM_END)) break;
        }
    }
};

}  // namespace

Bytes zlibCompress(std::span<const uint8_t> data, const ZlibOptions& options) {
    Deflater deflater(options);
    Bytes out;
    // Feed in slices that fit zlib's 32-bit counters.
    constexpr size_t SLICE = size_t{1} << 30;
    for (size_t pos = 0; pos < data.size(); pos += SLICE)
        deflater.run(data.subspan(pos, std::min(SLICE, data.size() - pos)), Z_NO_FLUSH, out);
    deflater.run({}, Z_FINISH, out);
    return out;
}

Bytes zlibCompressPieces(std::span<const uint8_t> data, std::span<const Piece> pieces) {
    ZlibOptions first;
    if (!pieces.empty()) {
        first.level = pieces.front().level;
        first.strategy = pieces.front().strategy;
    }
    Deflater deflater(first);
    Bytes out;
    size_t pos = 0;
    for (const Piece& piece : pieces) {
        deflater.stream.next_out = deflater.chunk;  // everything is flushed: nothing to write
        deflater.stream.avail_out = 0;
        if (deflateParams(&deflater.stream, piece.level, piece.strategy) != Z_OK)
            throw std::runtime_error("deflateParams failed");
        const size_t size = std::min(piece.size, data.size() - pos);
        deflater.run(data.subspan(pos, size), Z_NO_FLUSH, out);
        // Ends the current DEFLATE block so the next piece starts a new one.
        deflater.run({}, Z_BLOCK, out);
        pos += size;
    }
    deflater.run(data.subspan(pos), Z_FINISH, out);
    return out;
}

Bytes blockHeader(uint32_t tag) {
    Bytes header(32);
    for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<uint8_t>(tag >> ((i % 4) * 8));
    std::memcpy(header.data() + 4, "CompressionFile", 15);
    return header;
}

Bytes makeContainer(std::span<const Bytes> streams) {
    Bytes out;
    uint32_t tag = 0x54534c31;  // arbitrary filler for the uninterpreted header bytes
    for (const Bytes& stream : streams) {
        const Bytes header = blockHeader(tag++);
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), stream.begin(), stream.end());
    }
    return out;
}

std::vector<Bytes> splitEvenly(std::span<const uint8_t> data, size_t count) {
    std::vector<Bytes> parts;
    if (count == 0) return parts;
    for (size_t i = 0; i < count; ++i) {
        const size_t begin = data.size() * i / count;
        const size_t end = data.size() * (i + 1) / count;
        parts.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(begin),
                           data.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return parts;
}

namespace {

uint32_t readBigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void appendBigEndian32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(Bytes& out, const char* type, std::span<const uint8_t> body) {
    appendBigEndian32(out, static_cast<uint32_t>(body.size()));
    const size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    const auto crc = crc32(0, out.data() + typeStart, static_cast<uInt>(out.size() - typeStart));
    appendBigEndian32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::optional<Inflated> zlibInflate(std::span<const uint8_t> stream, bool raw) {
    z_stream z{};
    if (inflateInit2(&z, raw ? -15 : 15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    Inflated result;
    int status = Z_OK;
    while (status == Z_OK) {
        uint8_t chunk[1 << 16];
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        result.bytes.insert(result.bytes.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (status == Z_BUF_ERROR && z.avail_out != 0) break;  // the input ran out
    }
    result.used = z.total_in;
    inflateEnd(&z);
    if (status != Z_STREAM_END) return std::nullopt;
    return result;
}

Bytes pngWithStoredImageData(std::span<const uint8_t> png) {
    constexpr size_t SIGNATURE_SIZE = 8;
    if (png.size() < SIGNATURE_SIZE) throw std::runtime_error("not a PNG");
    Bytes out(png.begin(), png.begin() + SIGNATURE_SIZE);
    Bytes imageData;
    bool imageDataWritten = false;
    for (size_t pos = SIGNATURE_SIZE; pos + 12 <= png.size();) {
        const size_t length = readBigEndian32(&png[pos]);
        if (length > png.size() - pos - 12) throw std::runtime_error("truncated PNG chunk");
        const std::string type(reinterpret_cast<const char*>(&png[pos + 4]), 4);
        const auto body = png.subspan(pos + 8, length);
        if (type == "IDAT") {
            imageData.insert(imageData.end(), body.begin(), body.end());
        } else {
            if (!imageDataWritten && !imageData.empty()) {
                const std::optional<Inflated> pixels = zlibInflate(imageData);
                if (!pixels) throw std::runtime_error("PNG image data does not inflate");
                appendChunk(out, "IDAT", zlibCompress(pixels->bytes, ZlibOptions{.level = 0}));
                imageDataWritten = true;
            }
            out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(pos),
                       png.begin() + static_cast<std::ptrdiff_t>(pos + 12 + length));
        }
        pos += 12 + length;
    }
    if (!imageDataWritten) throw std::runtime_error("PNG without image data or IEND");
    return out;
}

Bytes readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void writeWholeFile(const std::string& path, std::span<const uint8_t> data) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace tessel
