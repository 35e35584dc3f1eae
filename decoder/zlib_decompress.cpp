#include "zlib_decompress.hpp"

#include "stream_decoder.hpp"

namespace korvane {

const char* zlibHeaderError(const uint8_t* data, size_t size) {
    if (size < ZLIB_FRAME_SIZE) return DATA_TOO_SMALL;
    const uint32_t cmf = data[0];
    const uint32_t flg = data[1];
    if ((cmf & 0x0F) != 8) return UNSUPPORTED_METHOD;
    if ((cmf * 256 + flg) % 31 != 0) return BAD_HEADER_CHECKSUM;
    if ((flg & 0x20) != 0) return PRESET_DICTIONARY;
    return nullptr;
}

ByteBuffer zlibDecompress(const uint8_t* data, size_t size, size_t& consumed) {
    ByteBuffer out;
    consumed = zlibDecompressAppend(data, size, out);
    return out;
}

size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, OutputWatcher* watcher) {
    StreamDecoder decoder(watcher);
    return zlibDecompressAppend(data, size, out, decoder);
}

size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, StreamDecoder& decoder) {
    if (const char* error = zlibHeaderError(data, size)) throwDecodeError(error);
    decoder.decodeAppend(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out);
    return decoder.bytesConsumed + ZLIB_FRAME_SIZE;
}

}  // namespace korvane
