// tessel-pack: wraps any file (normally a PNG) in a Tessel container.
//
//   tessel-pack [--blocks N] [--level L] [--strategy S] [--mixed] [--prefix FILE]
//               [--store-png-data] INPUT OUTPUT
//
// --store-png-data first rewrites the PNG with its pixels stored uncompressed,
// so that the container's streams have real work to do. The payload (the optional prefix followed by INPUT) is split
// into N container blocks, each one zlib stream. --mixed makes every stream change DEFLATE block kind along the way
// (stored, fixed code, dynamic code) instead of using one level and strategy throughout.

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tessel_writer.hpp"

namespace {

int usage(const char* self) {
    std::cerr << "usage: " << self
              << " [--blocks N] [--level 0-9] [--strategy default|filtered|huffman|rle|fixed]"
                 " [--mixed] [--prefix FILE] [--store-png-data] INPUT OUTPUT\n";
    return 2;
}

int strategyByName(const std::string& name) {
    if (name == "default") return Z_DEFAULT_STRATEGY;
    if (name == "filtered") return Z_FILTERED;
    if (name == "huffman") return Z_HUFFMAN_ONLY;
    if (name == "rle") return Z_RLE;
    if (name == "fixed") return Z_FIXED;
    return -1;
}

tessel::Bytes mixedStream(const tessel::Bytes& data) {
    // A repeating cycle of block kinds, over pieces small enough that even a
    // short stream gets every kind.
    const tessel::Piece cycle[] = {
        {0, 9, Z_DEFAULT_STRATEGY}, {0, 0, Z_DEFAULT_STRATEGY}, {0, 6, Z_FIXED}, {0, 1, Z_HUFFMAN_ONLY}, {0, 6, Z_RLE},
    };
    const size_t pieceSize = std::clamp<size_t>(data.size() / std::size(cycle), 64, 4096);
    std::vector<tessel::Piece> pieces;
    for (size_t covered = 0; covered < data.size(); covered += pieceSize) {
        pieces.push_back(cycle[pieces.size() % std::size(cycle)]);
        pieces.back().size = pieceSize;
    }
    return tessel::zlibCompressPieces(data, pieces);
}

}  // namespace

int main(int argc, char** argv) {
    size_t blocks = 1;
    tessel::ZlibOptions options;
    bool mixed = false;
    bool storePixels = false;
    std::string prefixPath;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--blocks" && hasValue) {
            blocks = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--level" && hasValue) {
            options.level = std::atoi(argv[++i]);
        } else if (arg == "--strategy" && hasValue) {
            options.strategy = strategyByName(argv[++i]);
            if (options.strategy < 0) return usage(argv[0]);
        } else if (arg == "--prefix" && hasValue) {
            prefixPath = argv[++i];
        } else if (arg == "--store-png-data") {
            storePixels = true;
        } else if (arg == "--mixed") {
            mixed = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage(argv[0]);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2 || blocks == 0 || options.level < 0 || options.level > 9) return usage(argv[0]);

    try {
        tessel::Bytes payload;
        if (!prefixPath.empty()) payload = tessel::readWholeFile(prefixPath);
        tessel::Bytes input = tessel::readWholeFile(paths[0]);
        if (storePixels) input = tessel::pngWithStoredImageData(input);
        payload.insert(payload.end(), input.begin(), input.end());

        std::vector<tessel::Bytes> streams;
        for (const tessel::Bytes& part : tessel::splitEvenly(payload, blocks))
            streams.push_back(mixed ? mixedStream(part) : tessel::zlibCompress(part, options));
        tessel::writeWholeFile(paths[1], tessel::makeContainer(streams));
    } catch (const std::exception& error) {
        std::cerr << "tessel-pack: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
