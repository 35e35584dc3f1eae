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

// Decodes one raw DEFLATE stream (RFC 1951). One decoder per stream.
//
// Huffman-coded blocks go through the fast path (wide bit buffer, multi-bit
// tables, word copies) as far as it can take them; the bit-at-a-time routines
// below finish whatever it hands over, and decide every error.
class StreamDecoder {
public:
    // A watcher, if given, is shown the output after each DEFLATE block.
    explicit StreamDecoder(OutputWatcher* watcher = nullptr) noexcept : watcher_(watcher) {}

    HuffmanTable fixedLitLen;
    HuffmanTable fixedDist;
    bool fixedTablesBuilt = false;
    uint64_t bytesConsumed = 0;  // input bytes used, a partly read last byte included

    // Decodes the stream into a new buffer.
    ByteBuffer decode(const uint8_t* data, size_t size);

    // Decodes the stream onto the end of `out`. Back-references reach only the
    // bytes this stream appends, never what `out` held before. On failure
    // `out` is cut back to what it held (and the watcher told); when the
    // output cannot grow, the error is an OutputTooLarge.
    void decodeAppend(const uint8_t* data, size_t size, ByteBuffer& out);

    // Builds the fixed-code tables the first time a block of this stream needs them.
    void buildFixedTables();

    // Decodes one Huffman-coded block's symbols up to and including its
    // end-of-block code, one bit per table probe.
    void decodeHuffmanBlock(BitReader& reader, ByteBuffer& out, const HuffmanTable& literalTable,
                            const HuffmanTable& distanceTable) const;

private:
    friend struct DecoderTesting;  // picks the path in tests (testing.hpp)
    enum class Path : uint8_t { Fast, FastPortable, Reference };

    void decodeBlocks(BitReader& reader, ByteBuffer& out);
    void copyStoredBlock(BitReader& reader, ByteBuffer& out) const;
    void decodeFixedBlock(BitReader& reader, ByteBuffer& out);
    void decodeDynamicBlock(BitReader& reader, ByteBuffer& out);
    // Runs the fast symbol loop; true when it finished the block.
    bool decodeFast(BitReader& reader, ByteBuffer& out, const FastLiteralCode& literalCode,
                    const FastDistanceCode& distanceCode) const;

    Path path_ = Path::Fast;
    OutputWatcher* watcher_;
    size_t streamStart_ = 0;  // where this stream's output begins in `out`
    // Fast-path state, kept between blocks so its storage is reused.
    DynamicLengths dynamicLengths_;
    FastLiteralCode fastLiteralCode_;
    FastDistanceCode fastDistanceCode_;
    FastCodeLengthCode fastCodeLengthCode_;
};

}  // namespace korvane
