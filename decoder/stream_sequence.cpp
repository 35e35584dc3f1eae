#include "stream_sequence.hpp"

#include <new>
#include <utility>

#include "decode_error.hpp"
#include "zlib_decompress.hpp"

namespace korvane {

namespace {

// Literal-heavy streams take at least this many input bits per output byte
// outside stored blocks: a literal takes 7 to 9 bits, a copy a few per byte.
// Photographs and compressed data do; text and drawings do not.
constexpr uint64_t LITERAL_HEAVY_BITS_PER_BYTE = 3;

}  // namespace

StreamSequence::StreamSequence(ByteBuffer& out, OutputWatcher* watcher) : out_(out), watcher_(watcher) {}

size_t StreamSequence::decodeAppend(const uint8_t* data, size_t size, Next next) {
    const bool guessed = isAhead(data, size);
    const size_t before = out_.size();
    try {
        decodeCurrent(data, size, next);
    } catch (const std::bad_alloc&) {
        // Out of memory while work ahead held some: decoded again without it.
        aheadSpan_ = {};
        const bool aheadHeld = guessed || aheadOut_.capacity() > 0;
        aheadOut_ = ByteBuffer();
        if (!aheadHeld) throw;
        current_->start(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out_, watcher_);
        current_->finish();
    } catch (...) {
        aheadSpan_ = {};
        throw;
    }
    const uint64_t coded = out_.size() - before - current_->storedBytes;
    literalHeavy_ =
        coded > 0 && (current_->bytesConsumed - current_->storedBytes) * 8 >= LITERAL_HEAVY_BITS_PER_BYTE * coded;
    return current_->bytesConsumed + ZLIB_FRAME_SIZE;
}

bool StreamSequence::isAhead(const uint8_t* data, size_t size) const {
    return data != nullptr && data == aheadSpan_.data && size == aheadSpan_.size && !ahead_->failed();
}

void StreamSequence::decodeCurrent(const uint8_t* data, size_t size, Next next) {
    if (isAhead(data, size)) {
        std::swap(current_, ahead_);
        current_->moveOnto(out_, watcher_);
    } else {
        if (const char* error = zlibHeaderError(data, size)) throwDecodeError(error);
        current_->start(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out_, watcher_);
    }
    aheadOut_.clear();
    aheadSpan_ = {};
    startAhead(next);
    current_->finish(aheadSpan_.data != nullptr ? ahead_.get() : nullptr);
}

void StreamSequence::startAhead(Next next) {
    if (!wantsNext() || next.data == nullptr || zlibHeaderError(next.data, next.size) != nullptr) return;
    ahead_->start(next.data + ZLIB_HEADER_SIZE, next.size - ZLIB_HEADER_SIZE, aheadOut_, nullptr, false);
    ahead_->readAhead(0);
    if (!ahead_->failed()) aheadSpan_ = next;
}

}  // namespace korvane
