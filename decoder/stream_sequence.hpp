#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"
#include "stream_decoder.hpp"

namespace korvane {

// Decodes zlib streams that lie one after another onto the end of one buffer,
// each exactly as zlibDecompressAppend would, two at a time where it can: a
// caller that can guess the next stream's span names it, and that stream is
// decoded alongside the current one, on this thread, into storage of its own.
// Its literals and the current stream's are independent chains of table
// loads, which a CPU runs side by side.
//
// Work ahead never shows. It joins the output (and the watcher sees it) only
// when the next call names the span guessed, that is, when the current stream
// ended where the guess said; otherwise it is dropped, and anything it met is
// met again in turn. When memory runs out while work ahead holds some, the
// current stream is decoded again without it, so that the error is the one
// the stream alone would give.
class StreamSequence {
public:
    struct Next {
        const uint8_t* data = nullptr;  // nullptr: no guess
        size_t size = 0;
    };

    StreamSequence(ByteBuffer& out, OutputWatcher* watcher);

    // Decodes the zlib stream at data[0, size) onto `out` and returns the bytes
    // it used, as zlibDecompressAppend does.
    size_t decodeAppend(const uint8_t* data, size_t size, Next next);

    // Whether the next call would decode ahead, given a guess.
    [[nodiscard]] bool wantsNext() const { return literalHeavy_ || alwaysAhead_; }

private:
    friend struct DecoderTesting;
    [[nodiscard]] bool isAhead(const uint8_t* data, size_t size) const;
    void decodeCurrent(const uint8_t* data, size_t size, Next next);
    void startAhead(Next next);

    ByteBuffer& out_;
    OutputWatcher* watcher_;
    std::unique_ptr<StreamDecoder> current_ = std::make_unique<StreamDecoder>();
    std::unique_ptr<StreamDecoder> ahead_ = std::make_unique<StreamDecoder>();
    // Whether the last stream was literal-heavy: only there does decoding
    // ahead save more than it costs (the copy into place, the loop's extra
    // checks). Tests decode ahead whatever the data.
    bool literalHeavy_ = false;
    bool alwaysAhead_ = false;
    Next aheadSpan_;       // the stream ahead_ decodes, if any
    ByteBuffer aheadOut_;  // where it writes
};

}  // namespace korvane
