#include "stream_sequence.hpp"

#include <new>
#include <utility>

#include "decode_error.hpp"
#include "zlib_decompress.hpp"

namespace korvane {

namespace {

// Literal-heavy streams take at least this many input bits per byte in their
// Huffman-coded blocks: a literal takes 7 to 9 bits, a copy a few per byte.
// Photographs and compressed data do; text and drawings do not.
constexpr uint64_t LITERAL_HEAVY_BITS_PER_BYTE = 2;

}  // namespace

StreamSequence::StreamSequence(ByteBuffer& out, OutputWatcher* watcher) : out_(out), watcher_(watcher) {}

size_t StreamSequence::decodeAppend(const uint8_t* data, size_t size, Next next) {
    const bool guessed = data == aheadData_ && !ahead_->failed();
    try {
        decodeCurrent(data, size, next);
    } catch (const std::bad_alloc&) {
        // Out of memory while work ahead held some: decoded again without it.
        aheadData_ = nullptr;
        const bool aheadHeld = guessed || aheadOut_.capacity() > 0;
        aheadOut_ = ByteBuffer();
        if (!aheadHeld) throw;
        current_->start(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out_, watcher_);
        current_->finish();
    } catch (...) {
        aheadData_ = nullptr;
        throw;
    }
    const size_t consumed = current_->bytesConsumed + ZLIB_FRAME_SIZE;
    literalHeavy_ = current_->codedBytes > 0 && current_->codedBits >= LITERAL_HEAVY_BITS_PER_BYTE * current_->codedBytes;
    if (consumed != next.consumed) aheadData_ = nullptr;
    return consumed;
}

void StreamSequence::decodeCurrent(const uint8_t* data, size_t size, Next next) {
    if (data == aheadData_ && !ahead_->failed()) {
        std::swap(current_, ahead_);
        current_->moveOnto(out_, watcher_);
    } else {
        if (const char* error = zlibHeaderError(data, size)) throwDecodeError(error);
        current_->start(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out_, watcher_);
    }
    aheadOut_.clear();
    aheadData_ = nullptr;
    startAhead(next);
    current_->finish(aheadData_ != nullptr ? ahead_.get() : nullptr);
}

void StreamSequence::startAhead(Next next) {
    if (!literalHeavy_ || next.data == nullptr || zlibHeaderError(next.data, next.size) != nullptr) return;
    ahead_->start(next.data + ZLIB_HEADER_SIZE, next.size - ZLIB_HEADER_SIZE, aheadOut_, nullptr, false);
    ahead_->readAhead();
    if (!ahead_->failed()) aheadData_ = next.data;
}

}  // namespace korvane
