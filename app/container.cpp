#include "container.hpp"

#include <cstring>
#include <exception>

#include "console.hpp"
#include "input_file.hpp"
#include "zlib_decompress.hpp"

namespace korvane {

std::optional<ByteBuffer> scanContainer(std::span<const uint8_t> fileData, OutputWatcher* watcher) {
    const uint64_t fileSize = fileData.size();
    uint64_t offset = 0;
    int64_t blockCount = 0;
    ByteBuffer joined;
    // When the input lost bytes under its mapping, zeros stood in for them:
    // the caller reports the file instead of what the walk made of them.
    auto fail = [](const auto&... message) {
        if (!InputFile::changed()) console::err(message...);
        return std::nullopt;
    };

    // A header is looked at only when at least one byte follows it.
    while (offset + BLOCK_HEADER_SIZE < fileSize) {
        if (std::memcmp(fileData.data() + offset + MAGIC_OFFSET, MAGIC, MAGIC_SIZE) != 0) {
            if (blockCount == 0) return fail("Error: file is not a valid Tessel (CompressionFile)");
            break;
        }
        ++blockCount;
        try {
            const uint64_t streamStart = offset + BLOCK_HEADER_SIZE;
            const size_t before = joined.size();
            // The span runs to the end of the file: the stream's own end says
            // where the next header starts. Decoding appends straight onto the
            // joined bytes, which saves a copy of every block's output.
            const size_t consumed =
                zlibDecompressAppend(fileData.data() + streamStart, fileSize - streamStart, joined, watcher);
            console::out("Block ", blockCount, ": decompressed ", joined.size() - before, " bytes");
            offset = streamStart + consumed;
        } catch (const std::exception& error) {
            return fail("Decompression error in block ", blockCount, ": ", error.what());
        }
    }

    console::out();
    console::out("Total blocks: ", blockCount);
    console::out("Total decompressed: ", joined.size(), " bytes");
    return joined;
}

}  // namespace korvane
