// decoder-bench: decodes every zlib stream of each benchmark container in
// process, with Korvane's decoder, libdeflate and zlib, and reports the
// throughput in decoded bytes. libdeflate and zlib check each stream's
// Adler-32 and Korvane's decoder does not, so libdeflate-raw also decodes the
// DEFLATE data alone (no zlib header or trailer) to show what the check costs.
//
//   decoder-bench [--data-dir=DIR] [--fresh-output] [Google Benchmark flags]
//
// Output buffers are reused, so the rates leave out page faults;
// --fresh-output allocates a new one for every run, as the program does, and
// so counts the faults on fresh pages too. The data directory defaults to
// $KORVANE_BENCH_DATA, then build/bench/data (see make-bench-data). Unless
// given, --benchmark_repetitions=5 and --benchmark_display_aggregates_only=true
// are added. Rates are per CPU second.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "byte_buffer.hpp"
#include "tessel_format.hpp"
#include "tessel_writer.hpp"
#include "zlib_decompress.hpp"

namespace {

const char* const DATA_FILES[] = {"png-compressed", "png-stored-l9", "photo-rows-l6", "text-l9", "blocks-4k"};

struct Stream {
    size_t offset;   // where the zlib stream starts in the file
    size_t size;     // its length, trailer included
    size_t decoded;  // bytes it decodes to
};

struct DataSet {
    std::string name;
    std::vector<uint8_t> file;
    std::vector<Stream> streams;
    size_t decoded = 0;
    uLong crc = 0;  // CRC-32 of all decoded bytes, to check each decoder once
    bool verified[4] = {false, false, false, false};
};

std::vector<DataSet> dataSets;
std::unique_ptr<uint8_t[]> flatOutput;  // pre-touched, as large as the largest decoded set
korvane::ByteBuffer korvaneOutput;      // reused across runs: only the first run faults pages in
bool freshOutput = false;               // --fresh-output: a new buffer for every run

// Where the peers decode to: the shared pre-touched buffer, or with
// --fresh-output a new, untouched allocation the size of the decoded set.
struct PeerOutput {
    explicit PeerOutput(size_t size) : fresh(freshOutput ? new uint8_t[size] : nullptr) {}
    [[nodiscard]] uint8_t* data() const { return fresh ? fresh.get() : flatOutput.get(); }
    std::unique_ptr<uint8_t[]> fresh;
};

// Walks the container as Korvane does (blocks while a full header and one
// more byte remain, stopping at a header without the magic) and records each
// stream's extent and decoded size with zlib.
DataSet loadDataSet(const std::string& dir, const std::string& name) {
    DataSet set;
    set.name = name;
    const std::string path = dir + "/" + name + ".tessel";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path + " (run make-bench-data first)");
    set.file.assign(std::istreambuf_iterator<char>(in), {});

    for (size_t offset = 0; offset + korvane::BLOCK_HEADER_SIZE < set.file.size();) {
        if (std::memcmp(set.file.data() + offset + korvane::MAGIC_OFFSET, korvane::MAGIC, korvane::MAGIC_SIZE) != 0)
            break;
        const size_t start = offset + korvane::BLOCK_HEADER_SIZE;
        const auto stream = tessel::zlibInflate(std::span(set.file).subspan(start));
        if (!stream) throw std::runtime_error(path + ": bad stream at offset " + std::to_string(start));
        if (!stream->bytes.empty()) set.crc = crc32_z(set.crc, stream->bytes.data(), stream->bytes.size());
        set.streams.push_back({start, stream->used, stream->bytes.size()});
        set.decoded += stream->bytes.size();
        offset = start + stream->used;
    }
    if (set.streams.empty()) throw std::runtime_error(path + ": no blocks");
    return set;
}

enum Decoder { KORVANE, LIBDEFLATE, LIBDEFLATE_RAW, ZLIB };

// Checks a decoder's output once per data set against the zlib walk.
bool verify(benchmark::State& state, DataSet& set, Decoder decoder, const uint8_t* data, size_t size) {
    if (set.verified[decoder]) return true;
    if (size != set.decoded || crc32_z(0, data, size) != set.crc) {
        state.SkipWithError("decoded bytes differ from zlib's");
        return false;
    }
    set.verified[decoder] = true;
    return true;
}

void finish(benchmark::State& state, const DataSet& set) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(set.decoded));
    state.counters["blocks"] = static_cast<double>(set.streams.size());
}

void benchKorvane(benchmark::State& state, DataSet* set) {
    // Like the program, each stream gets the rest of the file as its span.
    auto decodeAll = [set] {
        if (freshOutput)
            korvaneOutput = korvane::ByteBuffer();
        else
            korvaneOutput.clear();
        const uint8_t* const file = set->file.data();
        for (const Stream& s : set->streams)
            korvane::zlibDecompressAppend(file + s.offset, set->file.size() - s.offset, korvaneOutput);
    };
    try {
        decodeAll();  // grows the buffer outside the timed loop
        if (!verify(state, *set, KORVANE, korvaneOutput.data(), korvaneOutput.size())) return;
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

template <bool RAW>
void benchLibdeflate(benchmark::State& state, DataSet* set) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    auto decodeAll = [set, d](uint8_t* out) {
        for (const Stream& s : set->streams) {
            const uint8_t* const in = set->file.data() + s.offset;
            const libdeflate_result result =
                RAW ? libdeflate_deflate_decompress(d, in + 2, s.size - 6, out, s.decoded, nullptr)
                    : libdeflate_zlib_decompress(d, in, s.size, out, s.decoded, nullptr);
            if (result != LIBDEFLATE_SUCCESS) return false;
            out += s.decoded;
        }
        return true;
    };
    if (!decodeAll(flatOutput.get()))
        state.SkipWithError("libdeflate failed");
    else if (verify(state, *set, RAW ? LIBDEFLATE_RAW : LIBDEFLATE, flatOutput.get(), set->decoded)) {
        for (auto _ : state) {
            const PeerOutput output(set->decoded);
            benchmark::DoNotOptimize(decodeAll(output.data()));
            benchmark::ClobberMemory();
        }
        finish(state, *set);
    }
    libdeflate_free_decompressor(d);
}

void benchZlib(benchmark::State& state, DataSet* set) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        state.SkipWithError("inflateInit failed");
        return;
    }
    auto decodeAll = [set, &z](uint8_t* out) {
        for (const Stream& s : set->streams) {
            inflateReset(&z);
            z.next_in = set->file.data() + s.offset;
            z.avail_in = static_cast<uInt>(s.size);
            z.next_out = out;
            z.avail_out = static_cast<uInt>(s.decoded);
            if (inflate(&z, Z_FINISH) != Z_STREAM_END) return false;
            out += s.decoded;
        }
        return true;
    };
    if (!decodeAll(flatOutput.get()))
        state.SkipWithError("zlib failed");
    else if (verify(state, *set, ZLIB, flatOutput.get(), set->decoded)) {
        for (auto _ : state) {
            const PeerOutput output(set->decoded);
            benchmark::DoNotOptimize(decodeAll(output.data()));
            benchmark::ClobberMemory();
        }
        finish(state, *set);
    }
    inflateEnd(&z);
}

bool hasFlag(const std::vector<char*>& args, const char* prefix) {
    return std::any_of(args.begin(), args.end(),
                       [prefix](const char* a) { return std::strncmp(a, prefix, std::strlen(prefix)) == 0; });
}

}  // namespace

int main(int argc, char** argv) {
    std::string dataDir = "build/bench/data";
    if (const char* env = std::getenv("KORVANE_BENCH_DATA"); env != nullptr && *env != '\0') dataDir = env;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], "--data-dir=", 11) == 0)
            dataDir = argv[i] + 11;
        else if (i > 0 && std::strcmp(argv[i], "--fresh-output") == 0)
            freshOutput = true;
        else
            args.push_back(argv[i]);
    }
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_display_aggregates_only=true";
    if (!hasFlag(args, "--benchmark_repetitions")) args.push_back(repetitions.data());
    if (!hasFlag(args, "--benchmark_display_aggregates_only") && !hasFlag(args, "--benchmark_report_aggregates_only"))
        args.push_back(aggregates.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    try {
        size_t largest = 0;
        for (const char* name : DATA_FILES) {
            dataSets.push_back(loadDataSet(dataDir, name));
            largest = std::max(largest, dataSets.back().decoded);
        }
        flatOutput.reset(new uint8_t[largest]);
        std::memset(flatOutput.get(), 0, largest);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "decoder-bench: %s\n", error.what());
        return 1;
    }
    for (DataSet& set : dataSets) {
        benchmark::RegisterBenchmark(("korvane/" + set.name).c_str(), benchKorvane, &set)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libdeflate/" + set.name).c_str(), benchLibdeflate<false>, &set)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libdeflate-raw/" + set.name).c_str(), benchLibdeflate<true>, &set)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zlib/" + set.name).c_str(), benchZlib, &set)->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
