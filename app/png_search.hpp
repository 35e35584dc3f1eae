#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "byte_buffer.hpp"
#include "output_watcher.hpp"
#include "tessel_format.hpp"

namespace korvane {

// Finds the first PNG signature in bytes that only ever grow at the end. Fed
// by the decoder as blocks finish, it looks at each stretch while it is still
// in cache, so the search needs no pass of its own over the joined output.
class PngSignatureSearch final : public OutputWatcher {
public:
    // Looks at the positions of data[0, size) not yet ruled out.
    void seen(const uint8_t* data, size_t size) override;

    // Where the first signature starts, once seen() has been shown it whole.
    [[nodiscard]] std::optional<size_t> found() const { return found_; }

private:
    size_t next_ = 0;  // positions before this hold no signature
    std::optional<size_t> found_;
};

struct PngLocation {
    int64_t offset = 0;
    uint64_t size = 0;
};

// Finishes `search` over the whole of `joined` and prints where the first PNG
// signature is and how much follows; prints the error and returns nothing when
// there is none.
std::optional<PngLocation> findPngSignature(const ByteBuffer& joined, PngSignatureSearch& search);

// The same with a search that has seen nothing yet.
std::optional<PngLocation> findPngSignature(const ByteBuffer& joined);

}  // namespace korvane
