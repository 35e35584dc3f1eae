// peer-libdeflate: Korvane's job with libdeflate decoding the streams.

#include <libdeflate.h>

#include <cstdint>
#include <new>

#include "peer_common.hpp"

namespace {

class LibdeflateDecoder final : public peer::StreamDecoder {
public:
    LibdeflateDecoder() : decompressor_(libdeflate_alloc_decompressor()) {
        if (decompressor_ == nullptr) throw std::bad_alloc();
    }
    ~LibdeflateDecoder() override { libdeflate_free_decompressor(decompressor_); }
    LibdeflateDecoder(const LibdeflateDecoder&) = delete;
    LibdeflateDecoder& operator=(const LibdeflateDecoder&) = delete;

    // libdeflate decodes whole streams into a buffer of known size: decode into
    // the free space after the joined bytes and, when that is too small, grow
    // the buffer and decode the block again. Growth at least doubles the
    // capacity, and goes straight to what the rest of the file should need at
    // the compression ratio seen so far, so that retries stay rare.
    size_t decodeAppend(const uint8_t* data, size_t size, peer::Buffer& out) override {
        for (;;) {
            size_t consumed = 0, produced = 0;
            const libdeflate_result result =
                libdeflate_zlib_decompress_ex(decompressor_, data, size, out.end(), out.spare(), &consumed, &produced);
            if (result == LIBDEFLATE_SUCCESS) {
                out.commit(produced);
                totalIn_ += consumed;
                totalOut_ += produced;
                return consumed;
            }
            if (result != LIBDEFLATE_INSUFFICIENT_SPACE) throw peer::DecodeFailure("libdeflate: bad data");
            size_t estimate = 0;
            if (totalIn_ != 0) {
                const double ratio = static_cast<double>(totalOut_) / static_cast<double>(totalIn_);
                const double wanted = static_cast<double>(out.size()) + static_cast<double>(size) * ratio * 1.25;
                if (wanted < static_cast<double>(SIZE_MAX / 2)) estimate = static_cast<size_t>(wanted);
            }
            out.grow(estimate);
        }
    }

private:
    libdeflate_decompressor* decompressor_;
    size_t totalIn_ = 0;   // input taken by the blocks decoded so far
    size_t totalOut_ = 0;  // and their output
};

}  // namespace

int main(int argc, char** argv) {
    try {
        LibdeflateDecoder decoder;
        return peer::run(argc, argv, decoder, 4);
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
