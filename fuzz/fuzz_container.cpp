// The whole container path on arbitrary bytes: block walk, decoding, joining
// and the PNG search (fuzz/run.sh discards the console report).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "container.hpp"
#include "png_search.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The search fed block by block, as the program runs it, must find what a
    // search of the whole joined output finds, and what follows it is the rest.
    korvane::PngSignatureSearch search;
    const std::optional<korvane::ByteBuffer> joined = korvane::scanContainer({data, size}, &search);
    if (!joined) return 0;
    const std::optional<korvane::PngLocation> png = korvane::findPngSignature(*joined, search);
    const std::optional<korvane::PngLocation> whole = korvane::findPngSignature(*joined);
    if (png.has_value() != whole.has_value()) std::abort();
    if (png && (png->offset != whole->offset || static_cast<uint64_t>(png->offset) + png->size != joined->size()))
        std::abort();
    return 0;
}
