#include "png_search.hpp"

#include <cstring>

#include "console.hpp"

namespace korvane {

void PngSignatureSearch::appended(const uint8_t* output, size_t from, size_t size) {
    if (found_ || size < PNG_SIGNATURE_SIZE) return;
    // A signature that ends in the new bytes may start up to 7 bytes before them.
    const uint8_t* p = output + (from < PNG_SIGNATURE_SIZE ? 0 : from - (PNG_SIGNATURE_SIZE - 1));
    const uint8_t* const last = output + (size - PNG_SIGNATURE_SIZE);  // last place one fits
    // memchr finds candidates for the first byte at memory speed.
    for (; p <= last; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, PNG_SIGNATURE[0], static_cast<size_t>(last - p) + 1));
        if (p == nullptr) return;
        if (std::memcmp(p, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) == 0) {
            found_ = static_cast<size_t>(p - output);
            return;
        }
    }
}

void PngSignatureSearch::cutBack(size_t size) {
    if (found_ && *found_ + PNG_SIGNATURE_SIZE > size) found_.reset();
}

std::optional<PngLocation> findPngSignature(const ByteBuffer& joined, const PngSignatureSearch& search) {
    if (const std::optional<size_t> offset = search.found()) {
        const PngLocation found{static_cast<int64_t>(*offset), static_cast<uint64_t>(joined.size() - *offset)};
        console::out("PNG found at offset: ", found.offset);
        console::out("PNG size: ", found.size, " bytes");
        return found;
    }
    console::err("Error: PNG signature not found in decompressed data");
    return std::nullopt;
}

std::optional<PngLocation> findPngSignature(const ByteBuffer& joined) {
    PngSignatureSearch search;
    search.appended(joined.data(), 0, joined.size());
    return findPngSignature(joined, search);
}

}  // namespace korvane
