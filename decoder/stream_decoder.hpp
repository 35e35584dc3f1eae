#pragma once

#include <cstddef>
#include <cstdint>

#include "bit_reader.hpp"
#include "byte_buffer.hpp"
#include "dynamic_tables.hpp"
#include "fast_code.hpp"
#include "fast_inflate.hpp"
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
    uint64_t storedBytes = 0;    // bytes of stored blocks, in and out alike

    // Decodes the stream into a new buffer.
    ByteBuffer decode(const uint8_t* data, size_t size);

    // Decodes the stream onto the end of `out`. Back-references reach only the
    // bytes this stream appends, never what `out` held before. On failure
    // `out` is cut back to what it held (and the watcher told); when the
    // output cannot grow, the error is an OutputTooLarge.
    void decodeAppend(const uint8_t* data, size_t size, ByteBuffer& out);

    // decodeAppend in steps, so that a second stream can go alongside: start()
    // sets the decoder on a stream (reserving address space ahead or not),
    // finish() decodes the rest, taking `partner` along in the symbol loop
    // while both are in Huffman-coded blocks. The partner never throws,
    // prints or shows its bytes: it waits where it meets anything else, and
    // an error in its block headers makes it failed().
    void start(const uint8_t* data, size_t size, ByteBuffer& out, OutputWatcher* watcher, bool reserve = true);
    void finish(StreamDecoder* partner = nullptr);
    // Readies a partner: reads its block headers (stored blocks whole) up to
    // its next Huffman-coded block, but none once it has decoded more than
    // `budget` bytes, the stream it goes alongside's so far. Stored blocks
    // ahead thus cost at most a block more than the current stream has
    // done, however often a guess is wrong.
    void readAhead(size_t budget) noexcept;
    [[nodiscard]] bool failed() const { return failed_; }
    // Moves what the stream has decoded so far onto the end of `out`, where it
    // goes on, and shows it to `watcher`. Throws std::bad_alloc when `out`
    // cannot grow, leaving `out` as it was.
    void moveOnto(ByteBuffer& out, OutputWatcher* watcher);

    // Builds the fixed-code tables the first time a block of this stream needs them.
    void buildFixedTables();

    // Decodes one Huffman-coded block's symbols up to and including its
    // end-of-block code, one bit per table probe.
    void decodeHuffmanBlock(BitReader& reader, ByteBuffer& out, const HuffmanTable& literalTable,
                            const HuffmanTable& distanceTable) const;

private:
    friend struct DecoderTesting;  // picks the path in tests (testing.hpp)
    enum class Path : uint8_t { Fast, FastPortable, Reference };
    // Where the stream stands: before a block header, inside a Huffman-coded
    // block (at a symbol boundary), or past its last block.
    enum class Phase : uint8_t { BlockHeader, HuffmanBlock, Done };

    void readBlockHeader();
    void endBlock();
    void copyStoredBlock();
    // Runs the fast symbol loop over the rest of the block; true when it
    // finished it.
    bool decodeFast(StreamDecoder* partner);
    // The partner's turn after it stopped in the symbol loop.
    void goOnAhead(FastResult result, size_t budget) noexcept;
    [[nodiscard]] size_t decoded() const { return out_->size() - streamStart_; }
    [[nodiscard]] FastLane lane() { return {&reader_, out_, streamStart_, literalCode_, distanceCode_}; }

    Path path_ = Path::Fast;
    OutputWatcher* watcher_;
    BitReader reader_;
    ByteBuffer* out_ = nullptr;
    size_t streamStart_ = 0;  // where this stream's output begins in `out_`
    size_t shown_ = 0;        // the watcher has seen out_[0, shown_)
    Phase phase_ = Phase::Done;
    bool finalBlock_ = false;
    bool fixedBlock_ = false;  // the block in hand uses the fixed code
    bool paused_ = false;
    bool failed_ = false;
    // The block's fast codes; null when only the bit-at-a-time decoder runs it.
    const FastLiteralCode* literalCode_ = nullptr;
    const FastDistanceCode* distanceCode_ = nullptr;
    // Fast-path state, kept between blocks so its storage is reused.
    DynamicLengths dynamicLengths_;
    FastLiteralCode fastLiteralCode_;
    FastDistanceCode fastDistanceCode_;
    FastCodeLengthCode fastCodeLengthCode_;
};

}  // namespace korvane
