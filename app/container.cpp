#include "container.hpp"

#include <algorithm>
#include <cstring>
#include <exception>

#include "console.hpp"
#include "input_file.hpp"
#include "stream_sequence.hpp"
#include "zlib_decompress.hpp"

namespace korvane {

namespace {

// Where the block after the one whose stream starts at `streamStart` probably
// begins: the next "CompressionFile" after the shortest stream, which only
// an unlucky stream's own bytes or a container stored inside it can show
// early. The decoder takes the guess as a guess (stream_sequence.hpp).
StreamSequence::Next guessNext(std::span<const uint8_t> file, uint64_t streamStart) {
    constexpr uint64_t SHORTEST_STREAM = ZLIB_FRAME_SIZE + 1;
    const uint8_t* const end = file.data() + file.size();
    const uint8_t* at = file.data() + std::min<uint64_t>(streamStart + SHORTEST_STREAM + MAGIC_OFFSET, file.size());
    while ((at = static_cast<const uint8_t*>(std::memchr(at, MAGIC[0], static_cast<size_t>(end - at)))) != nullptr) {
        if (static_cast<size_t>(end - at) < MAGIC_SIZE) break;
        if (std::memcmp(at, MAGIC, MAGIC_SIZE) == 0) {
            const uint64_t header = static_cast<uint64_t>(at - file.data()) - MAGIC_OFFSET;
            if (header + BLOCK_HEADER_SIZE >= file.size()) break;
            const uint64_t next = header + BLOCK_HEADER_SIZE;
            return {file.data() + next, static_cast<size_t>(file.size() - next)};
        }
        ++at;
    }
    return {};
}

}  // namespace

std::optional<ByteBuffer> scanContainer(std::span<const uint8_t> fileData, OutputWatcher* watcher) {
    const uint64_t fileSize = fileData.size();
    uint64_t offset = 0;
    int64_t blockCount = 0;
    ByteBuffer joined;
    StreamSequence streams(joined, watcher);
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
            const auto next = streams.wantsNext() ? guessNext(fileData, streamStart) : StreamSequence::Next{};
            const size_t consumed = streams.decodeAppend(fileData.data() + streamStart, fileSize - streamStart, next);
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
