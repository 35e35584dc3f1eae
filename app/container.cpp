#include "container.hpp"

#include <cstring>
#include <exception>
#include <iostream>

#include "zlib_decompress.hpp"

namespace korvane {

std::optional<ByteBuffer> scanContainer(const ByteBuffer& fileData) {
    const uint64_t fileSize = fileData.size();
    uint64_t offset = 0;
    int64_t blockCount = 0;
    ByteBuffer joined;

    // A header is looked at only when at least one byte follows it.
    while (offset + BLOCK_HEADER_SIZE < fileSize) {
        if (std::memcmp(fileData.data() + offset + MAGIC_OFFSET, MAGIC, MAGIC_SIZE) != 0) {
            if (blockCount == 0) {
                std::cerr << "Error: file is not a valid Tessel (CompressionFile)" << std::endl;
                return std::nullopt;
            }
            break;
        }
        ++blockCount;
        try {
            const uint64_t streamStart = offset + BLOCK_HEADER_SIZE;
            const size_t before = joined.size();
            // The span runs to the end of the file: the stream's own end says
            // where the next header starts. Decoding appends straight onto the
            // joined bytes, which saves a copy of every block's output.
            const size_t consumed = zlibDecompressAppend(fileData.data() + streamStart, fileSize - streamStart, joined);
            std::cout << "Block " << blockCount << ": decompressed " << joined.size() - before << " bytes" << std::endl;
            offset = streamStart + consumed;
        } catch (const std::exception& error) {
            std::cerr << "Decompression error in block " << blockCount << ": " << error.what() << std::endl;
            return std::nullopt;
        }
    }

    std::cout << '\n' << std::flush;
    std::cout << "Total blocks: " << blockCount << std::endl;
    std::cout << "Total decompressed: " << joined.size() << " bytes" << std::endl;
    return joined;
}

std::optional<PngLocation> findPngSignature(const ByteBuffer& joined) {
    const size_t size = joined.size();
    const uint8_t* const data = joined.data();
    constexpr size_t SIGNATURE_SIZE = sizeof(PNG_SIGNATURE);
    if (size >= SIGNATURE_SIZE) {
        const uint8_t* const last = data + (size - SIGNATURE_SIZE);
        // memchr finds candidates for the first byte at memory speed.
        for (const uint8_t* p = data; p <= last; ++p) {
            p = static_cast<const uint8_t*>(std::memchr(p, PNG_SIGNATURE[0], static_cast<size_t>(last - p) + 1));
            if (p == nullptr) break;
            if (std::memcmp(p, PNG_SIGNATURE, SIGNATURE_SIZE) == 0) {
                const PngLocation found{p - data, static_cast<uint64_t>(size - static_cast<size_t>(p - data))};
                std::cout << "PNG found at offset: " << found.offset << std::endl;
                std::cout << "PNG size: " << found.size << " bytes" << std::endl;
                return found;
            }
        }
    }
    std::cerr << "Error: PNG signature not found in decompressed data" << std::endl;
    return std::nullopt;
}

}  // namespace korvane
