// Writes seed inputs for the fuzz targets: zlib streams of every block kind
// (stored, fixed, dynamic, mixed, several window sizes) and small containers
// holding a PNG signature.
//
//   make-seeds STREAM_DIR CONTAINER_DIR

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tessel_writer.hpp"

namespace {

tessel::Bytes sampleData(size_t size, unsigned seed) {
    tessel::Bytes data(size);
    unsigned state = seed;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245U + 12345U;
        // Text-like runs with repeats, so that streams hold literals and copies.
        static constexpr uint8_t ALPHABET[] = "abcabcabd  PNG\x89\n";
        data[i] = static_cast<uint8_t>(ALPHABET[(state >> 16) % 16] + (i % 64 == 0 ? state >> 24 : 0));
    }
    return data;
}

void write(const std::string& path, const tessel::Bytes& bytes) { tessel::writeWholeFile(path, bytes); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s STREAM_DIR CONTAINER_DIR\n", argv[0]);
        return 2;
    }
    const std::string streams = argv[1];
    const std::string containers = argv[2];
    int n = 0;
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
    for (size_t size : {size_t{0}, size_t{1}, size_t{40}, size_t{300}, size_t{2000}}) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : strategies) {
                const tessel::Bytes data = sampleData(size, static_cast<unsigned>(n));
                const int windowBits = 9 + n % 7;
                write(streams + "/stream" + std::to_string(n++),
                      tessel::zlibCompress(data, {.level = level, .strategy = strategy, .windowBits = windowBits}));
            }
        }
    }
    const tessel::Piece pieces[] = {{200, 9, Z_DEFAULT_STRATEGY}, {100, 0, Z_DEFAULT_STRATEGY}, {150, 6, Z_FIXED}};
    write(streams + "/mixed", tessel::zlibCompressPieces(sampleData(600, 7), pieces));

    const uint8_t signature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    for (int blocks = 1; blocks <= 3; ++blocks) {
        tessel::Bytes payload = sampleData(100, static_cast<unsigned>(blocks));
        payload.insert(payload.begin() + 30, std::begin(signature), std::end(signature));
        std::vector<tessel::Bytes> parts;
        for (const tessel::Bytes& part : tessel::splitEvenly(payload, static_cast<size_t>(blocks)))
            parts.push_back(tessel::zlibCompress(part, {.level = blocks == 2 ? 0 : 6}));
        write(containers + "/container" + std::to_string(blocks), tessel::makeContainer(parts));
    }
    return 0;
}
