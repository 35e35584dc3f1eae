#include "png_search.hpp"

#include <cstring>
#include <iostream>

namespace korvane {

void PngSignatureSearch::seen(const uint8_t* data, size_t size) {
    if (found_ || size < PNG_SIGNATURE_SIZE || next_ > size - PNG_SIGNATURE_SIZE) return;
    const uint8_t* const last = data + (size - PNG_SIGNATURE_SIZE);  // last position a signature fits at
    // memchr finds candidates for the first byte at memory speed.
    for (const uint8_t* p = data + next_; p <= last; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, PNG_SIGNATURE[0], static_cast<size_t>(last - p) + 1));
        if (p == nullptr) break;
        if (std::memcmp(p, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) == 0) {
            found_ = static_cast<size_t>(p - data);
            return;
        }
    }
    // A signature may still start in the last 7 bytes, once more follow.
    next_ = size - PNG_SIGNATURE_SIZE + 1;
}

std::optional<PngLocation> findPngSignature(const ByteBuffer& joined, PngSignatureSearch& search) {
    search.seen(joined.data(), joined.size());
    if (const std::optional<size_t> offset = search.found()) {
        const PngLocation found{static_cast<int64_t>(*offset), static_cast<uint64_t>(joined.size() - *offset)};
        std::cout << "PNG found at offset: " << found.offset << std::endl;
        std::cout << "PNG size: " << found.size << " bytes" << std::endl;
        return found;
    }
    std::cerr << "Error: PNG signature not found in decompressed data" << std::endl;
    return std::nullopt;
}

std::optional<PngLocation> findPngSignature(const ByteBuffer& joined) {
    PngSignatureSearch search;
    return findPngSignature(joined, search);
}

}  // namespace korvane
