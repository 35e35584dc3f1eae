#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"
#include "tessel_format.hpp"

namespace korvane {

// Finds the first PNG signature in bytes that grow at the end. Fed by the
// decoder as blocks finish, it looks at each stretch while it is still in
// cache, so the search needs no pass of its own over the joined output.
class PngSignatureSearch final : public OutputWatcher {
public:
    // Looks at every position where a signature could end in output[from, size).
    void appended(const uint8_t* output, size_t from, size_t size) override;
    // Forgets a signature that no longer lies wholly inside output[0, size).
    void cutBack(size_t size) override;

    // Where the first signature starts among the bytes shown so far.
    [[nodiscard]] std::optional<size_t> found() const { return found_; }

private:
    std::optional<size_t> found_;
};

struct PngLocation {
    int64_t offset = 0;
    uint64_t size = 0;
};

// Prints where the first PNG signature in `joined` is and how much follows,
// as `search` found it after being shown all of `joined`; prints the error
// and returns nothing when there is none.
std::optional<PngLocation> findPngSignature(const ByteBuffer& joined, const PngSignatureSearch& search);

// The same with a search over the whole of `joined`.
std::optional<PngLocation> findPngSignature(const ByteBuffer& joined);

}  // namespace korvane
