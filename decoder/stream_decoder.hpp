#pragma once

#include <cstddef>
#include <cstdint>

#include "bit_reader.hpp"
#include "byte_buffer.hpp"
#include "dynamic_tables.hpp"
#include "fast_code.hpp"
#include "huffman_table.hpp"
#include "output_watcher.hpp"

namespace korvane {

// Which symbol decoder runs. All give identical results (bytes, consumed
// count, error and the point it is raised). Fast picks the variant of its loop
// compiled for the running CPU; FastPortable always runs the variant for any
// CPU, so that tests cover it too; Literal reads one bit per table probe and
// exists as the reference the fast path is tested against.
enum class DecodePath { Fast, FastPortable, Literal };

// Decodes one raw DEFLATE stream (RFC 1951). One decoder per stream.
class StreamDecoder {
public:
    explicit StreamDecoder(DecodePath path = DecodePath::Fast, OutputWatcher* watcher = nullptr) noexcept
        : path_(path), watcher_(watcher) {}

    HuffmanTable fixedLitLen;
    HuffmanTable fixedDist;
    bool fixedTablesBuilt = false;
    uint64_t bytesConsumed = 0;  // input bytes used, a partly read last byte included

    // Decodes the stream into a new buffer.
    ByteBuffer decode(const uint8_t* data, size_t size);

    // Decodes the stream onto the end of `out`. Back-references reach only the
    // bytes this stream appends, never what `out` held before.
    void decodeAppend(const uint8_t* data, size_t size, ByteBuffer& out);

    // Builds the fixed-code tables the first time a block of this stream needs them.
    void buildFixedTables();

    // Decodes one Huffman-coded block's symbols up to and including its
    // end-of-block code, one bit per table probe.
    void decodeHuffmanBlock(BitReader& reader, ByteBuffer& out, const HuffmanTable& literalTable,
                            const HuffmanTable& distanceTable) const;

private:
    void copyStoredBlock(BitReader& reader, ByteBuffer& out) const;
    void decodeFixedBlockFast(BitReader& reader, ByteBuffer& out);
    void decodeDynamicBlockFast(BitReader& reader, ByteBuffer& out);
    [[nodiscard]] bool portable() const { return path_ == DecodePath::FastPortable; }

    DecodePath path_;
    OutputWatcher* watcher_;
    size_t streamStart_ = 0;  // where this stream's output begins in `out`
    // Fast-path state, kept between blocks so its storage is reused.
    DynamicLengths dynamicLengths_;
    FastLiteralCode fastLiteralCode_;
    FastDistanceCode fastDistanceCode_;
    FastCodeLengthCode fastCodeLengthCode_;
};

}  // namespace korvane
