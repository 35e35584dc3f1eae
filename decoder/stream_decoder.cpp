#include "stream_decoder.hpp"

#include "deflate_tables.hpp"
#include "dynamic_tables.hpp"
#include "fast_inflate.hpp"

#include <span>

namespace korvane {

namespace {

// The up-front reservation is a hint, four times the input; it is capped so that
// a huge input span never turns into an allocation the machine cannot make.
constexpr size_t MAX_INITIAL_RESERVE = size_t{256} << 20;

size_t initialReserve(size_t inputSize) {
    return inputSize > MAX_INITIAL_RESERVE / 4 ? MAX_INITIAL_RESERVE : inputSize * 4;
}

}  // namespace

ByteBuffer StreamDecoder::decode(const uint8_t* data, size_t size) {
    ByteBuffer out;
    decodeAppend(data, size, out);
    return out;
}

void StreamDecoder::decodeAppend(const uint8_t* data, size_t size, ByteBuffer& out) {
    out.reserveExtra(initialReserve(size));
    streamStart_ = out.size();
    BitReader reader{data, size, 0, 0};

    for (;;) {
        const uint32_t final = readBits(reader, 1);
        const uint32_t type = readBits(reader, 2);
        if (type == 0) {
            copyStoredBlock(reader, out);
        } else if (path_ != DecodePath::Literal && type == 1) {
            decodeFixedBlockFast(reader, out);
        } else if (path_ != DecodePath::Literal && type == 2) {
            decodeDynamicBlockFast(reader, out);
        } else if (type == 1) {
            buildFixedTables();
            decodeHuffmanBlock(reader, out, fixedLitLen, fixedDist);
        } else if (type == 2) {
            HuffmanTable literalTable;
            HuffmanTable distanceTable;
            readDynamicTables(reader, literalTable, distanceTable);
            decodeHuffmanBlock(reader, out, literalTable, distanceTable);
        } else {
            throwDecodeError(INVALID_BLOCK_TYPE);
        }
        if (watcher_ != nullptr) watcher_->seen(out.data(), out.size());
        if (final == 1) {
            bytesConsumed = reader.bytePos + (reader.bitPos > 0 ? 1 : 0);
            return;
        }
    }
}

void StreamDecoder::copyStoredBlock(BitReader& reader, ByteBuffer& out) const {
    if (reader.bitPos > 0) {
        ++reader.bytePos;
        reader.bitPos = 0;
    }
    auto nextByte = [&reader]() -> uint32_t {
        if (reader.bytePos >= reader.size) throwDecodeError(UNEXPECTED_END);
        return reader.data[reader.bytePos++];
    };
    // Low byte first; two statements, since the operands of | may be read in either order.
    auto nextWord = [&nextByte]() -> uint32_t {
        const uint32_t low = nextByte();
        return low | (nextByte() << 8);
    };
    const uint32_t len = nextWord();
    const uint32_t nlen = nextWord();
    if ((len ^ nlen) != 0xFFFF) throwDecodeError(INVALID_STORED_BLOCK);

    if (path_ == DecodePath::Literal) {
        for (uint32_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>(nextByte()));
        return;
    }
    // Same bytes, same failure, in one copy.
    const uint64_t available = reader.size - reader.bytePos;
    const size_t count = len <= available ? len : static_cast<size_t>(available);
    out.append(reader.data + reader.bytePos, count);
    reader.bytePos += count;
    if (count < len) throwDecodeError(UNEXPECTED_END);
}

void StreamDecoder::decodeFixedBlockFast(BitReader& reader, ByteBuffer& out) {
    if (decodeBlockFast(reader, out, streamStart_, fixedLiteralCode(), fixedDistanceCode(), portable()) ==
        FastResult::EndOfBlock)
        return;
    buildFixedTables();
    decodeHuffmanBlock(reader, out, fixedLitLen, fixedDist);
}

void StreamDecoder::decodeDynamicBlockFast(BitReader& reader, ByteBuffer& out) {
    if (!readDynamicLengthsFast(reader, dynamicLengths_, fastCodeLengthCode_))
        readDynamicLengths(reader, dynamicLengths_);
    const auto literalLengths = dynamicLengths_.literal();
    const auto distanceLengths = dynamicLengths_.distance();

    // Over-subscribed codes, which no real compressor writes, stay with the
    // bit-at-a-time decoder; so does whatever the fast loop hands over.
    if (fastLiteralCode_.build(literalLengths) && fastDistanceCode_.build(distanceLengths) &&
        decodeBlockFast(reader, out, streamStart_, fastLiteralCode_, fastDistanceCode_, portable()) ==
            FastResult::EndOfBlock)
        return;
    HuffmanTable literalTable;
    HuffmanTable distanceTable;
    literalTable.build(literalLengths);
    distanceTable.build(distanceLengths);
    decodeHuffmanBlock(reader, out, literalTable, distanceTable);
}

void StreamDecoder::buildFixedTables() {
    if (fixedTablesBuilt) return;
    static constexpr auto LITERAL_LENGTHS = fixedLiteralLengths();
    static constexpr auto DISTANCE_LENGTHS = fixedDistanceLengths();
    fixedLitLen.build(LITERAL_LENGTHS);
    fixedDist.build(DISTANCE_LENGTHS);
    fixedTablesBuilt = true;
}

void StreamDecoder::decodeHuffmanBlock(BitReader& reader, ByteBuffer& out, const HuffmanTable& literalTable,
                                       const HuffmanTable& distanceTable) const {
    for (;;) {
        const int32_t symbol = literalTable.decodeSymbol(reader);
        if (symbol < END_OF_BLOCK) {
            out.push_back(static_cast<uint8_t>(symbol));
            continue;
        }
        if (symbol == END_OF_BLOCK) return;

        const auto lengthIndex = static_cast<size_t>(symbol - FIRST_LENGTH_SYMBOL);
        if (lengthIndex >= LENGTH_BASE.size()) throwDecodeError(INVALID_LENGTH_CODE);
        const size_t length =
            static_cast<size_t>(LENGTH_BASE[lengthIndex]) + readBits(reader, LENGTH_EXTRA[lengthIndex]);

        const auto distSymbol = static_cast<size_t>(distanceTable.decodeSymbol(reader));
        if (distSymbol >= DIST_BASE.size()) throwDecodeError(INVALID_DISTANCE_CODE);
        const size_t distance = static_cast<size_t>(DIST_BASE[distSymbol]) + readBits(reader, DIST_EXTRA[distSymbol]);

        if (distance > out.size() - streamStart_) throwDecodeError(INVALID_DISTANCE);
        // Byte by byte, by position: the copy may overlap what it appends, and
        // appending may move the storage.
        const size_t start = out.size() - distance;
        for (size_t k = 0; k < length; ++k) out.push_back(out[start + k]);
    }
}

}  // namespace korvane
