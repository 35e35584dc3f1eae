// peer-zlib: Korvane's job with the system zlib's inflate decoding the streams.

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "peer_common.hpp"

namespace {

class ZlibDecoder final : public peer::StreamDecoder {
public:
    ZlibDecoder() {
        if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
    }
    ~ZlibDecoder() override { inflateEnd(&stream_); }
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;

    // One z_stream for all blocks: inflateReset keeps its window allocation.
    size_t decodeAppend(const uint8_t* data, size_t size, peer::Buffer& out) override {
        if (inflateReset(&stream_) != Z_OK) throw peer::DecodeFailure("inflateReset failed");
        size_t taken = 0;  // input handed to zlib and used up
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = 0;
        for (;;) {
            // zlib counts in 32 bits: hand over input and output space in slices.
            if (stream_.avail_in == 0) {
                stream_.next_in = const_cast<Bytef*>(data + taken);
                stream_.avail_in = static_cast<uInt>(std::min<size_t>(size - taken, UINT_MAX));
                taken += stream_.avail_in;
            }
            if (out.spare() == 0) out.grow();
            stream_.next_out = out.end();
            stream_.avail_out = static_cast<uInt>(std::min<size_t>(out.spare(), UINT_MAX));
            const uInt spaceBefore = stream_.avail_out;
            // Z_FINISH: when the output fits, inflate skips its window copy.
            const int status = inflate(&stream_, Z_FINISH);
            out.commit(spaceBefore - stream_.avail_out);
            if (status == Z_STREAM_END) return taken - stream_.avail_in;
            if (status == Z_OK || (status == Z_BUF_ERROR && stream_.avail_out == 0)) continue;
            if (status == Z_BUF_ERROR && stream_.avail_in == 0) {
                if (taken < size) continue;
                throw peer::DecodeFailure("Unexpected end of data");
            }
            if (status == Z_MEM_ERROR) throw std::bad_alloc();
            throw peer::DecodeFailure(stream_.msg != nullptr ? stream_.msg : "zlib error " + std::to_string(status));
        }
    }

private:
    z_stream stream_{};
};

}  // namespace

int main(int argc, char** argv) {
    try {
        ZlibDecoder decoder;
        return peer::run(argc, argv, decoder, 4);
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
