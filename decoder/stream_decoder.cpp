#include "stream_decoder.hpp"

#include <algorithm>
#include <new>

#include "deflate_tables.hpp"
#include "dynamic_tables.hpp"
#include "fast_inflate.hpp"

namespace korvane {

namespace {

// Address space for four times the input is reserved up front, so that the
// output rarely has to move; capped so that a huge input span never turns into
// a reservation the machine cannot make.
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
    streamStart_ = out.size();
    BitReader reader{data, size, 0, 0};
    try {
        out.reserveAhead(initialReserve(size));
        decodeBlocks(reader, out);
    } catch (...) {
        const size_t decoded = out.size() - streamStart_;
        out.resizeUninitialized(streamStart_);
        if (watcher_ != nullptr) watcher_->cutBack(streamStart_);
        try {
            throw;
        } catch (const std::bad_alloc&) {
            throw OutputTooLarge(decoded);
        }
    }
}

void StreamDecoder::decodeBlocks(BitReader& reader, ByteBuffer& out) {
    for (;;) {
        const size_t blockStart = out.size();
        const uint32_t final = readBits(reader, 1);
        const uint32_t type = readBits(reader, 2);
        if (type == 0)
            copyStoredBlock(reader, out);
        else if (type == 1)
            decodeFixedBlock(reader, out);
        else if (type == 2)
            decodeDynamicBlock(reader, out);
        else
            throwDecodeError(INVALID_BLOCK_TYPE);
        if (watcher_ != nullptr) watcher_->appended(out.data(), blockStart, out.size());
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

    if (path_ == Path::Reference) {
        for (uint32_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>(nextByte()));
        return;
    }
    // The same bytes and the same failure, in one copy, unless the output
    // cannot grow by them all: then byte by byte, to fail where that would.
    const uint64_t available = reader.size - reader.bytePos;
    const auto count = static_cast<size_t>(std::min<uint64_t>(len, available));
    if (!out.tryReserveExtra(count)) {
        for (uint32_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>(nextByte()));
        return;
    }
    out.append(reader.data + reader.bytePos, count);
    reader.bytePos += count;
    if (count < len) throwDecodeError(UNEXPECTED_END);
}

bool StreamDecoder::decodeFast(BitReader& reader, ByteBuffer& out, const FastLiteralCode& literalCode,
                               const FastDistanceCode& distanceCode) const {
    const FastVariant variant = path_ == Path::FastPortable ? FastVariant::Portable : FastVariant::Best;
    return decodeBlockFast(reader, out, streamStart_, literalCode, distanceCode, variant) == FastResult::EndOfBlock;
}

void StreamDecoder::decodeFixedBlock(BitReader& reader, ByteBuffer& out) {
    if (path_ != Path::Reference && decodeFast(reader, out, fixedLiteralCode(), fixedDistanceCode())) return;
    buildFixedTables();
    decodeHuffmanBlock(reader, out, fixedLitLen, fixedDist);
}

void StreamDecoder::decodeDynamicBlock(BitReader& reader, ByteBuffer& out) {
    if (path_ == Path::Reference || !readDynamicLengthsFast(reader, dynamicLengths_, fastCodeLengthCode_))
        readDynamicLengths(reader, dynamicLengths_);
    const auto literalLengths = dynamicLengths_.literal();
    const auto distanceLengths = dynamicLengths_.distance();

    // Over-subscribed codes, which no real compressor writes, stay with the
    // bit-at-a-time decoder; so does whatever the fast loop hands over.
    if (path_ != Path::Reference && fastDistanceCode_.build(distanceLengths) &&
        fastLiteralCode_.build(literalLengths) && decodeFast(reader, out, fastLiteralCode_, fastDistanceCode_))
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
