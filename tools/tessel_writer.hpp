#pragma once

// Builds Tessel containers and zlib streams with the system zlib, for the
// sample generator, the tests, the fuzz seeds and the benchmarks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessel {

using Bytes = std::vector<uint8_t>;

struct ZlibOptions {
    int level = 6;        // 0..9
    int strategy = 0;     // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED
    int windowBits = 15;  // 9..15
    int memLevel = 8;     // 1..9
};

// One zlib stream holding `data`.
Bytes zlibCompress(std::span<const uint8_t> data, const ZlibOptions& options = {});

// One zlib stream whose DEFLATE blocks change kind along the way: each piece
// of `data` is compressed with its own level and strategy (level 0 gives
// stored blocks, Z_FIXED fixed-code blocks, the rest mostly dynamic ones).
struct Piece {
    size_t size;
    int level;
    int strategy;
};
Bytes zlibCompressPieces(std::span<const uint8_t> data, std::span<const Piece> pieces);

// System zlib's inflate over a zlib stream, or over raw DEFLATE data when
// `raw`: the output and the input bytes used, or nothing when zlib does not
// reach the end of the stream (bad or short data).
struct Inflated {
    Bytes bytes;
    size_t used = 0;
};
std::optional<Inflated> zlibInflate(std::span<const uint8_t> stream, bool raw = false);

// A 32-byte block header: "CompressionFile" at offset 4, the rest filled from `tag`.
Bytes blockHeader(uint32_t tag);

// Headers and streams laid end to end.
Bytes makeContainer(std::span<const Bytes> streams);

// Splits `data` into `count` nearly equal parts.
std::vector<Bytes> splitEvenly(std::span<const uint8_t> data, size_t count);

// The same PNG with its image data inflated and stored again uncompressed
// (zlib level 0) in one IDAT chunk: the pixels then show through to whatever
// compresses the file next. Throws on a malformed PNG.
Bytes pngWithStoredImageData(std::span<const uint8_t> png);

Bytes readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, std::span<const uint8_t> data);

}  // namespace tessel
