// peer-libdeflate and peer-zlib (PEER_ZLIB): Korvane's whole job in plain C
// calls, with libdeflate or zlib decoding the streams. Yardsticks for the
// benchmarks: the same arguments, report lines (each written at once, as
// Korvane flushes after every line), exit status and output file as Korvane
// on valid input.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "tessel_format.hpp"
#ifdef PEER_ZLIB
#include <zlib.h>
#else
#include <libdeflate.h>
#endif

namespace {

using korvane::BLOCK_HEADER_SIZE, korvane::MAGIC, korvane::MAGIC_OFFSET, korvane::MAGIC_SIZE, korvane::PNG_SIGNATURE,
    korvane::PNG_SIGNATURE_SIZE;

// Growable bytes from malloc/realloc: no zero-fill on growth, and glibc moves
// large blocks by remapping pages rather than copying them.
struct Buffer {
    uint8_t* data = nullptr;
    size_t size = 0, capacity = 0;
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data); }
    void reserve(size_t count) {
        if (count <= capacity) return;
        void* grown = std::realloc(data, count);
        if (grown == nullptr) throw std::bad_alloc();
        data = static_cast<uint8_t*>(grown);
        capacity = count;
    }
    // At least doubles the capacity, and makes it at least `minimum`.
    void grow(size_t minimum = 0) {
        const size_t wanted = std::max({capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2, minimum, size_t{65536}});
        if (wanted == capacity) throw std::bad_alloc();
        reserve(wanted);
    }
};

// Raised by a stream decoder; the message follows "Decompression error in block N: ".
struct DecodeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

#ifdef PEER_ZLIB
// Decodes the zlib stream at the start of data[0, size) onto the end of
// `out`; returns the bytes it took. One z_stream for all blocks: inflateReset
// keeps its window allocation.
class Decoder {
public:
    Decoder() {
        if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
    }
    ~Decoder() { inflateEnd(&stream_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    size_t decodeAppend(const uint8_t* data, size_t size, Buffer& out) {
        if (inflateReset(&stream_) != Z_OK) throw DecodeFailure("inflateReset failed");
        size_t taken = 0;  // input handed to zlib and used up
        stream_.avail_in = 0;
        for (;;) {
            // zlib counts in 32 bits: hand over input and output space in slices.
            if (stream_.avail_in == 0) {
                stream_.next_in = const_cast<Bytef*>(data + taken);
                stream_.avail_in = static_cast<uInt>(std::min<size_t>(size - taken, UINT_MAX));
                taken += stream_.avail_in;
            }
            if (out.size == out.capacity) out.grow();
            stream_.next_out = out.data + out.size;
            stream_.avail_out = static_cast<uInt>(std::min<size_t>(out.capacity - out.size, UINT_MAX));
            const uInt spaceBefore = stream_.avail_out;
            // Z_FINISH: when the output fits, inflate skips its window copy.
            const int status = inflate(&stream_, Z_FINISH);
            out.size += spaceBefore - stream_.avail_out;
            if (status == Z_STREAM_END) return taken - stream_.avail_in;
            if (status == Z_OK || (status == Z_BUF_ERROR && stream_.avail_out == 0)) continue;
            if (status == Z_BUF_ERROR && stream_.avail_in == 0) {
                if (taken < size) continue;
                throw DecodeFailure("Unexpected end of data");
            }
            if (status == Z_MEM_ERROR) throw std::bad_alloc();
            throw DecodeFailure(stream_.msg != nullptr ? stream_.msg : "zlib error " + std::to_string(status));
        }
    }

private:
    z_stream stream_{};
};
#else
// As above with libdeflate, which decodes whole streams into a buffer of known
// size: it decodes into the free space after the joined bytes and, when that
// is too small, grows the buffer and decodes the block again. Growth at least
// doubles the capacity, and goes straight to what the rest of the file should
// need at the compression ratio seen so far, so that retries stay rare.
class Decoder {
public:
    Decoder() : decompressor_(libdeflate_alloc_decompressor()) {
        if (decompressor_ == nullptr) throw std::bad_alloc();
    }
    ~Decoder() { libdeflate_free_decompressor(decompressor_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    size_t decodeAppend(const uint8_t* data, size_t size, Buffer& out) {
        for (;;) {
            size_t consumed = 0, produced = 0;
            const libdeflate_result result = libdeflate_zlib_decompress_ex(
                decompressor_, data, size, out.data + out.size, out.capacity - out.size, &consumed, &produced);
            if (result == LIBDEFLATE_SUCCESS) {
                out.size += produced;
                totalIn_ += consumed;
                totalOut_ += produced;
                return consumed;
            }
            if (result != LIBDEFLATE_INSUFFICIENT_SPACE) throw DecodeFailure("libdeflate: bad data");
            size_t estimate = 0;
            if (totalIn_ != 0) {
                const double ratio = static_cast<double>(totalOut_) / static_cast<double>(totalIn_);
                const double wanted = static_cast<double>(out.size) + static_cast<double>(size) * ratio * 1.25;
                if (wanted < static_cast<double>(SIZE_MAX / 2)) estimate = static_cast<size_t>(wanted);
            }
            out.grow(estimate);
        }
    }

private:
    libdeflate_decompressor* decompressor_;
    size_t totalIn_ = 0;   // input taken by the blocks decoded so far
    size_t totalOut_ = 0;  // and their output
};
#endif

// Standard output is line-buffered (see main), so every earlier line of the
// report is out before this one.
void complain(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

// The whole file in one read into an uninitialised buffer. As with Korvane's
// C++ stream opened at the end, a file whose end cannot be sought to (a pipe)
// fails to open, and a directory fails as a read.
bool readInput(const std::string& path, Buffer& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const off_t end = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        if (fd >= 0) ::close(fd);
        complain("Could not open file: " + path);
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode) && ::lseek(fd, 0, SEEK_SET) == 0;
    try {
        if (ok) out.reserve(static_cast<size_t>(end));
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    // One read normally does it; the loop covers the kernel's per-call cap.
    while (ok && out.size < static_cast<size_t>(end)) {
        const ssize_t got = ::read(fd, out.data + out.size, static_cast<size_t>(end) - out.size);
        if (got > 0) out.size += static_cast<size_t>(got);
        ok = got > 0 || (got < 0 && errno == EINTR);
    }
    ::close(fd);
    if (!ok) complain("Error reading file: " + path);
    return ok;
}

// Creates or truncates the file and writes the bytes in one call (looping only
// on a short write). A failed write returns false without a message.
bool writeOutput(const std::string& path, const uint8_t* data, size_t length) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        complain("Could not create file: " + path);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < length;) {
        const ssize_t wrote = ::write(fd, data + done, length - done);
        if (wrote > 0) done += static_cast<size_t>(wrote);
        ok = wrote > 0 || (wrote < 0 && errno == EINTR);
    }
    ::close(fd);
    return ok;
}

// Decodes every block onto the end of `joined`, printing the same lines as
// Korvane. Returns false after printing the error.
bool walkContainer(const Buffer& file, Decoder& decoder, Buffer& joined) {
    uint64_t offset = 0;
    int64_t blockCount = 0;
    while (offset + BLOCK_HEADER_SIZE < file.size) {
        if (std::memcmp(file.data + offset + MAGIC_OFFSET, MAGIC, MAGIC_SIZE) != 0) {
            if (blockCount == 0) {
                complain("Error: file is not a valid Tessel (CompressionFile)");
                return false;
            }
            break;
        }
        ++blockCount;
        const uint64_t streamStart = offset + BLOCK_HEADER_SIZE;
        const size_t before = joined.size;
        size_t consumed = 0;
        try {
            consumed = decoder.decodeAppend(file.data + streamStart, file.size - streamStart, joined);
        } catch (const std::exception& error) {
            joined.size = before;
            complain("Decompression error in block " + std::to_string(blockCount) + ": " + error.what());
            return false;
        }
        std::printf("Block %" PRId64 ": decompressed %zu bytes\n", blockCount, joined.size - before);
        offset = streamStart + consumed;
    }
    std::printf("\n");
    std::printf("Total blocks: %" PRId64 "\n", blockCount);
    std::printf("Total decompressed: %zu bytes\n", joined.size);
    return true;
}

int run(int argc, char** argv) {
    // The banner is Korvane's, so that the reports compare byte for byte.
    for (const char* line :
         {"=== Korvane ===", "PNG extraction from CompressionFile", "(no external dependencies)", ""})
        std::printf("%s\n", line);
    if (argc < 2) {
        std::printf("Usage: %s <input_file> [output_file.png]\n", argc > 0 && argv[0] != nullptr ? argv[0] : "");
        std::printf("\n");
        std::printf("Extracts PNG image from Tessel (CompressionFile) format.\n");
        std::printf("If output file is not specified, uses input filename with .png extension.\n");
        return 1;
    }
    const std::string inputPath = argv[1];
    const size_t dot = inputPath.rfind('.');
    const std::string outputPath = argc > 2 ? argv[2] : inputPath.substr(0, dot) + ".png";
    std::printf("Input file:  %s\n", inputPath.c_str());
    std::printf("Output file: %s\n", outputPath.c_str());
    std::printf("\n");

    Buffer file, joined;
    if (!readInput(inputPath, file)) return 1;
    std::printf("File size: %zu bytes\n", file.size);
    // A first guess at the decoded size; untouched capacity costs no memory.
    joined.reserve(file.size > SIZE_MAX / 4 ? file.size : file.size * 4 + 65536);
    Decoder decoder;
    if (!walkContainer(file, decoder, joined)) return 1;

    const uint8_t* found = nullptr;
    if (joined.size >= PNG_SIGNATURE_SIZE) {
        const uint8_t* const last = joined.data + (joined.size - PNG_SIGNATURE_SIZE);
        for (const uint8_t* p = joined.data; found == nullptr && p <= last; ++p) {
            p = static_cast<const uint8_t*>(std::memchr(p, PNG_SIGNATURE[0], static_cast<size_t>(last - p) + 1));
            if (p == nullptr) break;
            if (std::memcmp(p, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) == 0) found = p;
        }
    }
    if (found == nullptr) {
        complain("Error: PNG signature not found in decompressed data");
        return 1;
    }
    const auto pngOffset = static_cast<size_t>(found - joined.data);
    std::printf("PNG found at offset: %zu\n", pngOffset);
    std::printf("PNG size: %zu bytes\n", joined.size - pngOffset);
    if (!writeOutput(outputPath, found, joined.size - pngOffset)) return 1;
    std::printf("\n");
    std::printf("Success! PNG saved to: %s\n", outputPath.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Korvane flushes standard output after every line, so each line is one
    // write here too: printed one at a time, line-buffered.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::exception& error) {
        complain(std::string("Error: ") + error.what());
    }
    return status;
}
