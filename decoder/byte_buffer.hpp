#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <utility>

#include "large_blocks.hpp"

namespace korvane {

// A growable, contiguous array of bytes that owns its storage.
//
// Unlike std::vector<uint8_t> it can grow without zero-filling: file reads and
// the decoder overwrite every new byte anyway, and on large outputs the extra
// pass costs as much as the work itself. Small buffers live on the C heap;
// large ones in large blocks (large_blocks.hpp), whose pages are made ready
// as the buffer fills and which grow by moving pages rather than copying them.
// capacity() is what can be written without growing; reserved address space
// beyond it costs nothing until it is needed.
class ByteBuffer {
public:
    ByteBuffer() noexcept = default;
    ByteBuffer(const uint8_t* bytes, size_t count) { append(bytes, count); }
    ByteBuffer(const ByteBuffer& other) : ByteBuffer(other.data_, other.size_) {}
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)),
          reserved_(std::exchange(other.reserved_, 0)) {}
    ByteBuffer& operator=(ByteBuffer other) noexcept {
        swap(other);
        return *this;
    }
    ~ByteBuffer() {
        if (isLarge()) {
            large_blocks::release(block());
        } else {
            std::free(data_);
        }
    }

    void swap(ByteBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        std::swap(reserved_, other.reserved_);
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
        if (count > capacity_) reserveExtra(count - size_);
    }

    // Makes room for `count` more bytes past the end, growing geometrically so
    // that repeated small requests stay amortised O(1).
    void reserveExtra(size_t count) {
        if (!tryReserveExtra(count)) throw std::bad_alloc();
    }

    // reserveExtra that reports failure instead of throwing.
    [[nodiscard]] bool tryReserveExtra(size_t count) noexcept { return count <= capacity_ - size_ || grow(count); }

    // Reserves address space for `count` more bytes, so that growing into it
    // later costs no move, without making any of it ready. Only a hint: when
    // memory does not allow it, nothing happens.
    void reserveAhead(size_t count) noexcept {
        if (count > reserved_ - size_ && count <= SIZE_MAX - size_) (void)growReservation(size_ + count);
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
    [[nodiscard]] bool isLarge() const noexcept { return reserved_ >= large_blocks::THRESHOLD; }
    [[nodiscard]] large_blocks::Block block() const noexcept { return {data_, reserved_}; }

    // Makes `count` more bytes ready, in the reserved space where it suffices.
    // Otherwise the reservation doubles where it can; where memory does not
    // allow that, it takes ever smaller steps, down to exactly what is needed.
    bool grow(size_t count) noexcept {
        if (count > SIZE_MAX - size_) return false;
        const size_t wanted = size_ + count;
        if (wanted > reserved_ && !growReservation(wanted)) return false;
        if (isLarge()) {
            const size_t ready = (wanted + large_blocks::READY_STEP - 1) & ~(large_blocks::READY_STEP - 1);
            large_blocks::makeReady(block(), capacity_, ready < reserved_ ? ready : reserved_);
            capacity_ = ready < reserved_ ? ready : reserved_;
        }
        return true;
    }

    bool growReservation(size_t wanted) noexcept {
        const size_t ceiling = isLarge() ? large_blocks::ceiling(block()) : SIZE_MAX;
        for (size_t step = reserved_ > 0 ? reserved_ : wanted;; step /= 2) {
            const size_t target = step > SIZE_MAX - reserved_ ? SIZE_MAX : reserved_ + step;
            if (target < wanted) return reallocate(wanted);
            if (target <= ceiling && reallocate(target)) return true;
        }
    }

    // Moves to a reservation of at least `newSize` bytes. Small buffers are
    // ready whole; a large one keeps the ready part it had.
    bool reallocate(size_t newSize) noexcept {
        large_blocks::Block grown;
        if (isLarge()) {
            grown = large_blocks::resize(block(), newSize);
        } else if (newSize >= large_blocks::THRESHOLD) {
            grown = large_blocks::allocate(newSize);
            if (grown.data != nullptr) {
                large_blocks::makeReady(grown, 0, size_);
                if (size_ > 0) std::memcpy(grown.data, data_, size_);
                std::free(data_);
                capacity_ = size_;
            }
        } else {
            grown = {std::realloc(data_, newSize), newSize};
            if (grown.data != nullptr) capacity_ = newSize;
        }
        if (grown.data == nullptr) return false;
        data_ = static_cast<uint8_t*>(grown.data);
        reserved_ = grown.size;
        return true;
    }

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;  // ready to be written
    size_t reserved_ = 0;  // allocated; equal to capacity_ for small buffers
};

}  // namespace korvane
