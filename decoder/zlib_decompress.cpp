#include "zlib_decompress.hpp"

#include "stream_decoder.hpp"

namespace korvane {

namespace {

void checkHeader(const uint8_t* data, size_t size) {
    if (size < ZLIB_FRAME_SIZE) throwDecodeError(DATA_TOO_SMALL);
    const uint32_t cmf = data[0];
    const uint32_t flg = data[1];
    if ((cmf & 0x0F) != 8) throwDecodeError(UNSUPPORTED_METHOD);
    if ((cmf * 256 + flg) % 31 != 0) throwDecodeError(BAD_HEADER_CHECKSUM);
    if ((flg & 0x20) != 0) throwDecodeError(PRESET_DICTIONARY);
}

}  // namespace

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
    checkHeader(data, size);
    decoder.decodeAppend(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out);
    return decoder.bytesConsumed + ZLIB_FRAME_SIZE;
}

}  // namespace korvane
