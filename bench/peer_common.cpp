#include "peer_common.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "tessel_format.hpp"

namespace peer {

Buffer::~Buffer() { std::free(data_); }

void Buffer::reserve(size_t count) {
    if (count <= capacity_) return;
    void* grown = std::realloc(data_, count);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(grown);
    capacity_ = count;
}

void Buffer::grow(size_t minimum) {
    size_t wanted = capacity_ > SIZE_MAX / 2 ? SIZE_MAX : capacity_ * 2;
    if (wanted < minimum) wanted = minimum;
    if (wanted < 65536) wanted = 65536;
    if (wanted == capacity_) throw std::bad_alloc();
    reserve(wanted);
}

namespace {

// Standard output is line-buffered (see run), so every earlier line of the
// report is out before this one.
void complain(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

using korvane::BLOCK_HEADER_SIZE, korvane::MAGIC, korvane::MAGIC_OFFSET, korvane::MAGIC_SIZE, korvane::PNG_SIGNATURE,
    korvane::PNG_SIGNATURE_SIZE;

std::string outputPathFor(const std::string& input) {
    const size_t dot = input.rfind('.');
    return (dot == std::string::npos ? input : input.substr(0, dot)) + ".png";
}

// The whole file in one read into an uninitialised buffer. The size is where
// the end can be sought to. As with Korvane's C++ stream opened at the end, a
// file whose end cannot be sought to (a pipe) fails to open, and a directory
// fails as a read.
bool readInput(const std::string& path, Buffer& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const off_t end = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        if (fd >= 0) ::close(fd);
        complain("Could not open file: " + path);
        return false;
    }
    bool ok = false;
    struct stat status {};
    const bool directory = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    if (!directory && static_cast<uint64_t>(end) <= SIZE_MAX && ::lseek(fd, 0, SEEK_SET) == 0) {
        const auto size = static_cast<size_t>(end);
        try {
            out.reserve(size);
            ok = true;
        } catch (const std::bad_alloc&) {}
        // One read normally does it; the loop covers the kernel's per-call cap.
        for (size_t done = 0; ok && done < size;) {
            const ssize_t got = ::read(fd, out.data() + done, size - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0)
                ok = false;
            else
                done += static_cast<size_t>(got);
        }
        if (ok) out.truncate(size);
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
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0)
            ok = false;
        else
            done += static_cast<size_t>(wrote);
    }
    ::close(fd);
    return ok;
}

// Decodes every block onto the end of `joined`, printing the same lines as
// Korvane. Returns false after printing the error.
bool walkContainer(const Buffer& file, StreamDecoder& decoder, Buffer& joined) {
    const uint64_t fileSize = file.size();
    uint64_t offset = 0;
    int64_t blockCount = 0;
    while (offset + BLOCK_HEADER_SIZE < fileSize) {
        if (std::memcmp(file.data() + offset + MAGIC_OFFSET, MAGIC, MAGIC_SIZE) != 0) {
            if (blockCount == 0) {
                complain("Error: file is not a valid Tessel (CompressionFile)");
                return false;
            }
            break;
        }
        ++blockCount;
        const uint64_t streamStart = offset + BLOCK_HEADER_SIZE;
        const size_t before = joined.size();
        size_t consumed = 0;
        try {
            consumed = decoder.decodeAppend(file.data() + streamStart, fileSize - streamStart, joined);
        } catch (const std::exception& error) {
            joined.truncate(before);
            complain("Decompression error in block " + std::to_string(blockCount) + ": " + error.what());
            return false;
        }
        std::printf("Block %" PRId64 ": decompressed %zu bytes\n", blockCount, joined.size() - before);
        offset = streamStart + consumed;
    }
    std::printf("\n");
    std::printf("Total blocks: %" PRId64 "\n", blockCount);
    std::printf("Total decompressed: %zu bytes\n", joined.size());
    return true;
}

int runChecked(int argc, char** argv, StreamDecoder& decoder, size_t fileSizeFactor) {
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
    const std::string outputPath = argc > 2 ? std::string(argv[2]) : outputPathFor(inputPath);
    std::printf("Input file:  %s\n", inputPath.c_str());
    std::printf("Output file: %s\n", outputPath.c_str());
    std::printf("\n");

    Buffer file;
    if (!readInput(inputPath, file)) return 1;
    std::printf("File size: %zu bytes\n", file.size());

    Buffer joined;
    // A first guess at the decoded size; untouched capacity costs no memory.
    joined.reserve(file.size() > SIZE_MAX / fileSizeFactor ? file.size() : file.size() * fileSizeFactor + 65536);
    if (!walkContainer(file, decoder, joined)) return 1;

    const uint8_t* const begin = joined.data();
    const uint8_t* found = nullptr;
    if (joined.size() >= PNG_SIGNATURE_SIZE) {
        const uint8_t* const last = begin + (joined.size() - PNG_SIGNATURE_SIZE);
        for (const uint8_t* p = begin; p <= last; ++p) {
            p = static_cast<const uint8_t*>(std::memchr(p, PNG_SIGNATURE[0], static_cast<size_t>(last - p) + 1));
            if (p == nullptr) break;
            if (std::memcmp(p, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) == 0) {
                found = p;
                break;
            }
        }
    }
    if (found == nullptr) {
        complain("Error: PNG signature not found in decompressed data");
        return 1;
    }
    const auto pngOffset = static_cast<size_t>(found - begin);
    const size_t pngSize = joined.size() - pngOffset;
    std::printf("PNG found at offset: %zu\n", pngOffset);
    std::printf("PNG size: %zu bytes\n", pngSize);
    if (!writeOutput(outputPath, found, pngSize)) return 1;
    std::printf("\n");
    std::printf("Success! PNG saved to: %s\n", outputPath.c_str());
    return 0;
}

}  // namespace

int run(int argc, char** argv, StreamDecoder& decoder, size_t fileSizeFactor) {
    // Korvane flushes standard output after every line, so each line is one
    // write here too: printed one at a time, line-buffered.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    int status = 1;
    try {
        status = runChecked(argc, argv, decoder, fileSizeFactor);
    } catch (const std::exception& error) {
        complain(std::string("Error: ") + error.what());
    }
    std::fflush(stdout);
    return status;
}

}  // namespace peer
