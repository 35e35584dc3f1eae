#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <utility>

namespace korvane {

// A growable, contiguous array of bytes that owns its storage.
//
// Unlike std::vector<uint8_t> it can grow without zero-filling: file reads and
// the decoder overwrite every new byte anyway, and on large outputs the extra
// pass costs as much as the work itself. Storage comes from malloc/realloc so
// that large buffers grow by remapping pages instead of copying them.
class ByteBuffer {
public:
    ByteBuffer() noexcept = default;
    ByteBuffer(const uint8_t* bytes, size_t count) { append(bytes, count); }
    ByteBuffer(const ByteBuffer& other) : ByteBuffer(other.data_, other.size_) {}
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ByteBuffer& operator=(ByteBuffer other) noexcept {
        swap(other);
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    void swap(ByteBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    [[nodiscard]] uint8_t* data() noexcept { return data_; }
    [[nodiscard]] const uint8_t* data() const noexcept { return data_; }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    [[nodiscard]] size_t capacity() const noexcept { return capacity_; }
    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
    [[nodiscard]] std::span<const uint8_t> bytes() const noexcept { return {data_, size_}; }

    uint8_t& operator[](size_t i) noexcept { return data_[i]; }
    const uint8_t& operator[](size_t i) const noexcept { return data_[i]; }
    [[nodiscard]] const uint8_t* begin() const noexcept { return data_; }
    [[nodiscard]] const uint8_t* end() const noexcept { return data_ + size_; }

    // Makes room for at least `count` bytes in all; never shrinks.
    void reserve(size_t count) {
        if (count > capacity_) reallocate(count);
    }

    // Makes room for `count` more bytes past the end, growing geometrically so
    // that repeated small requests stay amortised O(1).
    void reserveExtra(size_t count) {
        if (count <= capacity_ - size_) return;
        if (count > SIZE_MAX - size_) throw std::bad_alloc();
        size_t wanted = size_ + count;
        size_t doubled = capacity_ > SIZE_MAX / 2 ? SIZE_MAX : capacity_ * 2;
        reallocate(wanted > doubled ? wanted : doubled);
    }

    // reserveExtra that reports failure instead of throwing.
    [[nodiscard]] bool tryReserveExtra(size_t count) noexcept {
        if (count <= capacity_ - size_) return true;
        try {
            reserveExtra(count);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    void push_back(uint8_t byte) {
        if (size_ == capacity_) reserveExtra(1);
        data_[size_++] = byte;
    }

    void append(const uint8_t* bytes, size_t count) {
        if (count == 0) return;
        reserveExtra(count);
        std::memcpy(data_ + size_, bytes, count);
        size_ += count;
    }

    // Sets the length to `count`. Bytes past the old length are left as they
    // are in storage (indeterminate unless the caller wrote them through data()),
    // so the caller must fill them before reading.
    void resizeUninitialized(size_t count) {
        reserve(count);
        size_ = count;
    }

    void clear() noexcept { size_ = 0; }

private:
    void reallocate(size_t newCapacity) {
        void* grown = std::realloc(data_, newCapacity);
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<uint8_t*>(grown);
        capacity_ = newCapacity;
    }

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace korvane
