// Writes seed inputs for the fuzz targets: zlib streams of every block kind
// (stored, fixed, dynamic, mixed, several window sizes) and small containers
// holding a PNG signature.
//
//   make-seeds STREAM_DIR CONTAINER_DIR

#include <zlib.h>

#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "../app/tessel_format.hpp"
#include "tessel_writer.hpp"

namespace {

// Text-like runs with repeats, so that streams hold literals and copies.
tessel::Bytes sampleData(size_t size, unsigned seed) {
    static constexpr uint8_t ALPHABET[] = "abcabcabd  PNG\x89\n";
    tessel::Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245U + 12345U;
        data[i] = static_cast<uint8_t>(ALPHABET[(seed >> 16) % 16] + (i % 64 == 0 ? seed >> 24 : 0));
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s STREAM_DIR CONTAINER_DIR\n", argv[0]);
        return 2;
    }
    const std::string streams = argv[1];
    const std::string containers = argv[2];
    int n = 0;
    for (const size_t size : std::initializer_list<size_t>{0, 1, 40, 300, 2000})
        for (int level : {0, 1, 6, 9})
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
                const tessel::ZlibOptions options{.level = level, .strategy = strategy, .windowBits = 9 + n % 7};
                const tessel::Bytes stream = tessel::zlibCompress(sampleData(size, static_cast<unsigned>(n)), options);
                tessel::writeWholeFile(streams + "/stream" + std::to_string(n++), stream);
            }
    const tessel::Piece pieces[] = {{200, 9, Z_DEFAULT_STRATEGY}, {100, 0, Z_DEFAULT_STRATEGY}, {150, 6, Z_FIXED}};
    tessel::writeWholeFile(streams + "/mixed", tessel::zlibCompressPieces(sampleData(600, 7), pieces));

    for (size_t blocks = 1; blocks <= 3; ++blocks) {
        tessel::Bytes payload = sampleData(100, static_cast<unsigned>(blocks));
        payload.insert(payload.begin() + 30, std::begin(korvane::PNG_SIGNATURE), std::end(korvane::PNG_SIGNATURE));
        std::vector<tessel::Bytes> parts;
        for (const tessel::Bytes& part : tessel::splitEvenly(payload, blocks))
            parts.push_back(tessel::zlibCompress(part, {.level = blocks == 2 ? 0 : 6}));
        tessel::writeWholeFile(containers + "/container" + std::to_string(blocks), tessel::makeContainer(parts));
    }
    return 0;
}
