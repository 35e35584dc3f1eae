// decoder-bench: decodes the zlib streams of each benchmark container one by
// one in process, with Korvane's decoder and with libdeflate on the DEFLATE
// data alone (libdeflate-raw: no zlib header or trailer, so, like Korvane, no
// Adler-32 check), and reports decoded MB per CPU second and time per stream.
//
//   decoder-bench [--data-dir=DIR] [Google Benchmark flags]
//
// For blocks-4k and blocks-1430 it also times each stream's first block when
// that block is dynamic, cut down to its header (code lengths) and the
// end-of-block code (data sets blocks-4k-setup, blocks-1430-setup): what a
// block's set-up costs, code lengths read and tables built, plus a call.
// Output buffers are reused, so page faults are left out. The data directory
// defaults to $KORVANE_BENCH_DATA, then build/bench/data (see
// make-bench-data); missing containers are skipped. bench/run.sh adds
// --benchmark_repetitions and tabulates the medians.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bit_reader.hpp"
#include "byte_buffer.hpp"
#include "dynamic_tables.hpp"
#include "stream_sequence.hpp"
#include "tessel_format.hpp"
#include "tessel_writer.hpp"
#include "zlib_decompress.hpp"

namespace {

using tessel::Bytes;

const char* const DATA_FILES[] = {"png-compressed", "png-stored-l9", "photo-rows-l6", "text-l9",
                                  "blocks-4k",      "blocks-1430",   "stored-1430"};

struct Stream {
    size_t offset;   // where the zlib stream starts in `file`
    size_t size;     // its length, trailer included
    size_t decoded;  // bytes it decodes to
};

struct DataSet {
    std::string name;
    Bytes file;  // a container, or zlib streams end to end
    std::vector<Stream> streams;
    size_t decoded = 0;
    uLong crc = 0;  // CRC-32 of all decoded bytes, to check each decoder once
};

std::vector<DataSet> dataSets;
std::unique_ptr<uint8_t[]> flatOutput;  // libdeflate's, as large as the largest decoded set
size_t flatSize = 0;
korvane::ByteBuffer korvaneOutput;  // reused across runs: only the first run faults pages in

// Records each stream's extent and decoded size with zlib; a container is
// walked as Korvane walks it.
void addStreams(DataSet& set, size_t offset, bool container) {
    while (container
               ? offset + korvane::BLOCK_HEADER_SIZE < set.file.size() &&
                     std::memcmp(&set.file[offset + korvane::MAGIC_OFFSET], korvane::MAGIC, korvane::MAGIC_SIZE) == 0
               : offset < set.file.size()) {
        const size_t start = offset + (container ? korvane::BLOCK_HEADER_SIZE : 0);
        const auto stream = tessel::zlibInflate(std::span(set.file).subspan(start));
        if (!stream) throw std::runtime_error(set.name + ": bad stream at offset " + std::to_string(start));
        if (!stream->bytes.empty()) set.crc = crc32_z(set.crc, stream->bytes.data(), stream->bytes.size());
        set.streams.push_back({start, stream->used, stream->bytes.size()});
        set.decoded += stream->bytes.size();
        offset = start + stream->used;
    }
    if (set.streams.empty()) throw std::runtime_error(set.name + ": no streams");
}

// Bits appended from the least significant end of each byte, as DEFLATE packs them.
struct BitWriter {
    Bytes bytes;
    size_t count = 0;
    void put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i, ++count) {
            if (count % 8 == 0) bytes.push_back(0);
            bytes.back() = static_cast<uint8_t>(bytes.back() | ((value >> i & 1U) << (count % 8)));
        }
    }
};

// The stream's first DEFLATE block, when dynamic, as a zlib stream of its own:
// the block's header unchanged but marked final, then at once the end-of-block
// code (the canonical code of symbol 256 under the block's own lengths).
// Decoding it costs the block's set-up and next to nothing else.
bool appendHeaderOnly(const uint8_t* stream, size_t size, Bytes& out) {
    korvane::BitReader reader{stream + 2, size - 2, 0, 0};
    korvane::readBits(reader, 1);
    if (korvane::readBits(reader, 2) != 2) return false;
    korvane::DynamicLengths lengths;
    korvane::readDynamicLengths(reader, lengths);
    const auto literal = lengths.literal();
    const int32_t eobLength = literal[256];
    uint32_t code = 0;  // the first code of each length up to symbol 256's (RFC 1951, 3.2.2)
    for (int32_t length = 1; length <= eobLength; ++length) {
        const auto shorter = length == 1 ? 0 : std::count(literal.begin(), literal.end(), length - 1);
        code = (code + static_cast<uint32_t>(shorter)) << 1;
    }
    // then one more for each symbol before 256 of the same length
    code += static_cast<uint32_t>(std::count(literal.begin(), literal.begin() + 256, eobLength));

    BitWriter writer{{stream[0], stream[1]}, 16};
    writer.put(1, 1);  // final
    for (uint64_t bit = 1; bit < reader.bytePos * 8 + static_cast<uint64_t>(reader.bitPos); ++bit)
        writer.put(static_cast<uint32_t>(reader.data[bit / 8] >> (bit % 8)), 1);
    for (int32_t i = eobLength - 1; i >= 0; --i) writer.put(code >> i, 1);  // most significant bit first
    out.insert(out.end(), writer.bytes.begin(), writer.bytes.end());
    out.insert(out.end(), {0, 0, 0, 1});  // Adler-32 of nothing
    return true;
}

DataSet headerOnlySet(const DataSet& from) {
    DataSet set;
    set.name = from.name + "-setup";
    for (const Stream& s : from.streams) appendHeaderOnly(&from.file[s.offset], s.size, set.file);
    addStreams(set, 0, false);
    if (set.decoded != 0) throw std::runtime_error(set.name + ": header-only streams decode to something");
    return set;
}

// Checks a decoder's output once per data set against the zlib walk.
bool verify(benchmark::State& state, const DataSet& set, const uint8_t* data, size_t size) {
    if (size == set.decoded && crc32_z(0, data, size) == set.crc) return true;
    state.SkipWithError("decoded bytes differ from zlib's");
    return false;
}

void finish(benchmark::State& state, const DataSet& set) {
    const auto streams = static_cast<double>(set.streams.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(set.decoded));
    state.counters["streams"] = streams;
    state.counters["per_stream"] =
        benchmark::Counter(streams, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Like the program, each stream gets the rest of the file as its span and,
// with two lanes, the next stream as its guess (which the program finds by
// the next block's magic: on these files the same stream).
void benchKorvane(benchmark::State& state, const DataSet* set, bool twoLanes) {
    auto decodeAll = [set, twoLanes] {
        korvaneOutput.clear();
        korvane::StreamSequence sequence(korvaneOutput, nullptr);
        const size_t end = set->file.size();
        for (size_t i = 0; i < set->streams.size(); ++i) {
            const Stream& s = set->streams[i];
            korvane::StreamSequence::Next next;
            if (twoLanes && i + 1 < set->streams.size()) {
                const size_t at = set->streams[i + 1].offset;
                next = {&set->file[at], end - at};
            }
            sequence.decodeAppend(&set->file[s.offset], end - s.offset, next);
        }
    };
    try {
        decodeAll();  // grows the buffer outside the timed loop
        if (!verify(state, *set, korvaneOutput.data(), korvaneOutput.size())) return;
        for (auto _ : state) {
            decodeAll();
            benchmark::DoNotOptimize(korvaneOutput.data());
            benchmark::ClobberMemory();
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    finish(state, *set);
}

void benchLibdeflateRaw(benchmark::State& state, const DataSet* set) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    // As in the programs, each stream may read to the end of the file and
    // write to the end of the buffer: libdeflate's fast loop keeps to a margin
    // before both ends, and exact sizes would send every small stream's end
    // through its slower loop.
    auto decodeAll = [set, d] {
        uint8_t* out = flatOutput.get();
        uint8_t* const end = out + flatSize;
        for (const Stream& s : set->streams) {
            const uint8_t* const in = &set->file[s.offset + 2];
            size_t used = 0;
            size_t produced = 0;
            if (libdeflate_deflate_decompress_ex(d, in, set->file.size() - s.offset - 2, out,
                                                 static_cast<size_t>(end - out), &used,
                                                 &produced) != LIBDEFLATE_SUCCESS ||
                produced != s.decoded)
                return false;
            out += s.decoded;
        }
        return true;
    };
    if (!decodeAll()) {
        state.SkipWithError("libdeflate failed");
    } else if (verify(state, *set, flatOutput.get(), set->decoded)) {
        for (auto _ : state) {
            benchmark::DoNotOptimize(decodeAll());
            benchmark::ClobberMemory();
        }
        finish(state, *set);
    }
    libdeflate_free_decompressor(d);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dataDir = "build/bench/data";
    if (const char* env = std::getenv("KORVANE_BENCH_DATA"); env != nullptr && *env != '\0') dataDir = env;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], "--data-dir=", 11) == 0)
            dataDir = argv[i] + 11;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    try {
        dataSets.reserve(std::size(DATA_FILES) + 2);
        for (const std::string name : DATA_FILES) {
            const std::filesystem::path path = std::filesystem::path(dataDir) / (name + ".tessel");
            if (!std::filesystem::exists(path)) {
                std::fprintf(stderr, "decoder-bench: no %s (make-bench-data %s %s), skipped\n", path.c_str(),
                             dataDir.c_str(), name.c_str());
                continue;
            }
            dataSets.push_back({.name = name, .file = tessel::readWholeFile(path), .streams = {}});
            addStreams(dataSets.back(), 0, true);
            if (name.starts_with("blocks-")) dataSets.push_back(headerOnlySet(dataSets.back()));
        }
        size_t largest = 0;
        for (const DataSet& set : dataSets) largest = std::max(largest, set.decoded);
        flatSize = largest + 1;
        flatOutput.reset(new uint8_t[flatSize]);
        std::memset(flatOutput.get(), 0, flatSize);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "decoder-bench: %s\n", error.what());
        return 1;
    }
    for (const DataSet& set : dataSets) {
        benchmark::RegisterBenchmark(("korvane/" + set.name).c_str(), benchKorvane, &set, true)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("korvane-one-lane/" + set.name).c_str(), benchKorvane, &set, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libdeflate-raw/" + set.name).c_str(), benchLibdeflateRaw, &set)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
