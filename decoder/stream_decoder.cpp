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
    start(data, size, out, watcher_);
    finish();
}

void StreamDecoder::start(const uint8_t* data, size_t size, ByteBuffer& out, OutputWatcher* watcher, bool reserve) {
    reader_ = {data, size, 0, 0};
    out_ = &out;
    watcher_ = watcher;
    streamStart_ = shown_ = out.size();
    phase_ = Phase::BlockHeader;
    paused_ = failed_ = false;
    storedBytes = 0;
    if (reserve) out.reserveAhead(initialReserve(size));
}

void StreamDecoder::finish(StreamDecoder* partner) {
    try {
        while (phase_ != Phase::Done) {
            if (phase_ == Phase::BlockHeader) {
                readBlockHeader();
            } else {
                if (!decodeFast(partner)) {
                    HuffmanTable literalTable;
                    HuffmanTable distanceTable;
                    if (fixedBlock_) buildFixedTables();
                    if (!fixedBlock_) {
                        literalTable.build(dynamicLengths_.literal());
                        distanceTable.build(dynamicLengths_.distance());
                    }
                    decodeHuffmanBlock(reader_, *out_, fixedBlock_ ? fixedLitLen : literalTable,
                                       fixedBlock_ ? fixedDist : distanceTable);
                }
                endBlock();
            }
            // A partner held back at a block header goes on once this stream has caught up.
            if (partner != nullptr && partner->phase_ == Phase::BlockHeader && !partner->failed_)
                partner->readAhead(decoded());
        }
    } catch (...) {
        ByteBuffer& out = *out_;
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

void StreamDecoder::moveOnto(ByteBuffer& out, OutputWatcher* watcher) {
    const size_t start = out.size();
    out.append(out_->data() + streamStart_, out_->size() - streamStart_);
    out_ = &out;
    streamStart_ = start;
    watcher_ = watcher;
    if (watcher_ != nullptr && out.size() > start) watcher_->appended(out.data(), start, out.size());
    shown_ = out.size();
}

void StreamDecoder::readBlockHeader() {
    finalBlock_ = readBits(reader_, 1) == 1;
    const uint32_t type = readBits(reader_, 2);
    literalCode_ = nullptr;
    distanceCode_ = nullptr;
    fixedBlock_ = type == 1;
    if (type == 0) {
        copyStoredBlock();
        endBlock();
        return;
    }
    if (type == 1) {
        if (path_ != Path::Reference) {
            literalCode_ = &fixedLiteralCode();
            distanceCode_ = &fixedDistanceCode();
        }
    } else if (type == 2) {
        if (path_ == Path::Reference || !readDynamicLengthsFast(reader_, dynamicLengths_, fastCodeLengthCode_))
            readDynamicLengths(reader_, dynamicLengths_);
        // Over-subscribed codes, which no real compressor writes, stay with
        // the bit-at-a-time decoder.
        if (path_ != Path::Reference && fastDistanceCode_.build(dynamicLengths_.distance()) &&
            fastLiteralCode_.build(dynamicLengths_.literal())) {
            literalCode_ = &fastLiteralCode_;
            distanceCode_ = &fastDistanceCode_;
        }
    } else {
        throwDecodeError(INVALID_BLOCK_TYPE);
    }
    phase_ = Phase::HuffmanBlock;
}

void StreamDecoder::endBlock() {
    if (watcher_ != nullptr) watcher_->appended(out_->data(), shown_, out_->size());
    shown_ = out_->size();
    phase_ = Phase::BlockHeader;
    if (finalBlock_) {
        bytesConsumed = reader_.bytePos + (reader_.bitPos > 0 ? 1 : 0);
        phase_ = Phase::Done;
    }
}

void StreamDecoder::copyStoredBlock() {
    BitReader& reader = reader_;
    ByteBuffer& out = *out_;
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
    storedBytes += len;

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

bool StreamDecoder::decodeFast(StreamDecoder* partner) {
    if (literalCode_ == nullptr) return false;
    const FastVariant variant = path_ == Path::FastPortable ? FastVariant::Portable : FastVariant::Best;
    for (;;) {
        const bool together = partner != nullptr && !partner->paused_ && partner->phase_ == Phase::HuffmanBlock;
        const std::array<FastLane, 2> lanes{lane(), together ? partner->lane() : FastLane{}};
        const FastStop stop = decodeBlocksFast(std::span(lanes).first(together ? 2 : 1), variant);
        if (stop.lane == 0 || !together) return stop.result == FastResult::EndOfBlock;
        partner->goOnAhead(stop.result, decoded());
    }
}

void StreamDecoder::goOnAhead(FastResult result, size_t budget) noexcept {
    paused_ = true;
    if (result != FastResult::EndOfBlock) return;
    endBlock();
    readAhead(budget);
}

void StreamDecoder::readAhead(size_t budget) noexcept {
    try {
        while (phase_ == Phase::BlockHeader && decoded() <= budget) readBlockHeader();
        paused_ = phase_ != Phase::HuffmanBlock || literalCode_ == nullptr;
    } catch (...) {
        paused_ = failed_ = true;
    }
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
