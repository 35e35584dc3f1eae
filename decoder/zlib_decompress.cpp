#include "zlib_decompress.hpp"

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

ByteBuffer zlibDecompress(const uint8_t* data, size_t size, size_t& consumed, DecodePath path) {
    checkHeader(data, size);
    StreamDecoder decoder(path);
    ByteBuffer out = decoder.decode(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE);
    consumed = decoder.bytesConsumed + ZLIB_FRAME_SIZE;
    return out;
}

size_t zlibDecompressAppend(const uint8_t* data, size_t size, ByteBuffer& out, DecodePath path,
                            OutputWatcher* watcher) {
    checkHeader(data, size);
    const size_t oldSize = out.size();
    StreamDecoder decoder(path, watcher);
    try {
        decoder.decodeAppend(data + ZLIB_HEADER_SIZE, size - ZLIB_HEADER_SIZE, out);
    } catch (...) {
        out.resizeUninitialized(oldSize);
        throw;
    }
    return decoder.bytesConsumed + ZLIB_FRAME_SIZE;
}

}  // namespace korvane
