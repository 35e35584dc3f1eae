#pragma once

// The part shared by the peer programs (peer-zlib, peer-libdeflate): the
// command line, console report, container walk, PNG search and file I/O of
// Korvane, with the stream decoding left to a library. They exist only as
// yardsticks for the benchmarks: same arguments, same console lines, same exit
// status and same output file as Korvane on valid input.

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace peer {

// Growable byte storage from malloc/realloc: no zero-fill on growth, and
// glibc moves large blocks by remapping pages rather than copying them.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer();

    [[nodiscard]] uint8_t* data() noexcept { return data_; }
    [[nodiscard]] const uint8_t* data() const noexcept { return data_; }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    [[nodiscard]] size_t capacity() const noexcept { return capacity_; }
    [[nodiscard]] size_t spare() const noexcept { return capacity_ - size_; }
    [[nodiscard]] uint8_t* end() noexcept { return data_ + size_; }

    // Sets the capacity to at least `count`; throws std::bad_alloc.
    void reserve(size_t count);
    // At least doubles the capacity (and makes it at least `minimum`).
    void grow(size_t minimum = 0);
    // Marks `count` more bytes past the end as written.
    void commit(size_t count) noexcept { size_ += count; }
    void truncate(size_t count) noexcept { size_ = count; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Raised by a stream decoder; the message follows "Decompression error in block N: ".
class DecodeFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes the zlib stream at the start of data[0, size) (which may run past
// the stream) onto the end of `out`, growing it as needed, and returns the
// bytes the stream took. Throws DecodeFailure (or std::bad_alloc).
class StreamDecoder {
public:
    virtual ~StreamDecoder() = default;
    virtual size_t decodeAppend(const uint8_t* data, size_t size, Buffer& out) = 0;
};

// Korvane's whole run with `decoder` for the streams; returns the exit status.
// `fileSizeFactor` sets the joined buffer's first capacity as a multiple of
// the input size.
int run(int argc, char** argv, StreamDecoder& decoder, size_t fileSizeFactor);

}  // namespace peer
