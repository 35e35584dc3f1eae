#pragma once

// Test-only choices: which of the decoder's paths runs. All give identical
// results (bytes, consumed count, which error and where); tests and fuzz
// targets run them side by side. The program always takes the fast path.

#include <cstddef>
#include <cstdint>

#include "byte_buffer.hpp"
#include "fast_inflate.hpp"
#include "output_watcher.hpp"
#include "stream_decoder.hpp"
#include "stream_sequence.hpp"
#include "zlib_decompress.hpp"

namespace korvane {

// Fast: the fast path, in the variant compiled for the running CPU.
// FastPortable: the fast path in the variant for any CPU.
// Reference: the bit-at-a-time routines alone, one table probe per bit.
enum class DecodePath { Fast, FastPortable, Reference };

struct DecoderTesting {
    static void setPath(StreamDecoder& decoder, DecodePath path) {
        decoder.path_ = path == DecodePath::Reference      ? StreamDecoder::Path::Reference
                        : path == DecodePath::FastPortable ? StreamDecoder::Path::FastPortable
                                                           : StreamDecoder::Path::Fast;
    }
    // The path for both lanes; a guess, when given, is always followed.
    static void setPath(StreamSequence& sequence, DecodePath path) {
        setPath(*sequence.current_, path);
        setPath(*sequence.ahead_, path);
        sequence.alwaysAhead_ = true;
    }
    static size_t bytesAhead(const StreamSequence& sequence) { return sequence.aheadOut_.size(); }
};

namespace testing {

inline size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, DecodePath path,
                                   OutputWatcher* watcher = nullptr) {
    StreamDecoder decoder(watcher);
    DecoderTesting::setPath(decoder, path);
    return korvane::zlibDecompressAppend(data, size, out, decoder);
}

inline ByteBuffer zlibDecompress(const uint8_t* data, size_t size, size_t& consumed, DecodePath path) {
    ByteBuffer out;
    consumed = zlibDecompressAppend(data, size, out, path);
    return out;
}

}  // namespace testing
}  // namespace korvane
