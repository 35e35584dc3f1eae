#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"
#include "stream_decoder.hpp"

namespace korvane {

// Decodes zlib streams that lie one after another onto the end of one buffer,
// each exactly as zlibDecompressAppend would, two at a time where it can.
//
// Each call names the current stream and, when the caller can guess it, the
// span of the next one. That stream is then decoded ahead, alongside the current one, on this thread and
// into storage of its own: its literals and the current stream's are two
// independent chains of table loads, which a CPU runs side by side.
//
// Work ahead never shows. The next call takes it up only if it names the span
// guessed, that is, if the current stream ended where the guess said; its bytes join
// the output, and the watcher sees them, only then. In every other case (a
// wrong guess, an error in a header ahead) it is thrown away and the stream is
// decoded again from its start; whatever else it met, it meets again in turn.
// When memory runs out while work ahead holds some, that work is dropped and
// the current stream decoded again without it, so that the error stands only
// where it would for the stream alone.
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
    // Whether the last stream was literal-heavy (as the first is taken to
    // be): the streams that decoding ahead speeds up. Elsewhere its own cost
    // (copying its output into place, the loop's extra checks) outweighs
    // what it saves. Tests decode ahead whatever the streams.
    bool literalHeavy_ = true;
    bool alwaysAhead_ = false;
    Next aheadSpan_;  // the stream ahead_ decodes, if any
    ByteBuffer aheadOut_;                 // where it writes
};

}  // namespace korvane
