// Containers whose zlib streams come from real DEFLATE compressors other than
// zlib (zopfli, pigz, libdeflate, 7-Zip), holding real PNG images; each must
// extract byte-exact with the exact console report.
//
// The programs are looked up on PATH when the tests run; libdeflate is built
// in when CMake finds it (KORVANE_LIBDEFLATE). A missing tool or the missing
// icons skip a case with the Debian package to install, unless
// KORVANE_REQUIRE_ALL_TOOLS=1 (set by CI), where they fail it.

#include <gtest/gtest.h>
#include <zlib.h>
#ifdef KORVANE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "container.hpp"
#include "missing_packages.hpp"
#include "png_search.hpp"
#include "tessel_writer.hpp"

namespace {

namespace fs = std::filesystem;
using tessel::Bytes;

using testsupport::Missing;
// A payload of real PNG files: every 80th Tango icon, concatenated. The output
// runs from the first signature to the end, so it is the whole payload.
const Bytes& pngPayload() {
    static const Bytes payload = [] {
        Bytes all;
        const fs::path root = "/usr/share/icons/Tango";
        if (!fs::exists(root)) return all;
        std::vector<fs::path> icons;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.path().extension() == ".png") icons.push_back(entry.path());
        std::sort(icons.begin(), icons.end());
        for (size_t i = 0; i < icons.size(); i += 80) {
            const Bytes png = tessel::readWholeFile(icons[i].string());
            all.insert(all.end(), png.begin(), png.end());
        }
        return all;
    }();
    return payload;
}

// Runs a shell command from `input` to a new file and returns its bytes.
Bytes runTool(const std::string& command, const Bytes& input) {
    const fs::path dir = fs::temp_directory_path();
    const fs::path in = dir / ("korvane-tool-in-" + std::to_string(::getpid()));
    const fs::path out = dir / ("korvane-tool-out-" + std::to_string(::getpid()));
    tessel::writeWholeFile(in.string(), input);
    const std::string line = command + " < '" + in.string() + "' > '" + out.string() + "' 2>/dev/null";
    const int status = std::system(line.c_str());
    Bytes result = status == 0 ? tessel::readWholeFile(out.string()) : Bytes{};
    fs::remove(in);
    fs::remove(out);
    if (status != 0) ADD_FAILURE() << "failed: " << command;
    return result;
}

// Wraps raw DEFLATE data into a zlib stream: header and Adler-32 trailer.
Bytes zlibWrap(const Bytes& deflate, const Bytes& original) {
    Bytes stream = {0x78, 0xDA};
    stream.insert(stream.end(), deflate.begin(), deflate.end());
    const uLong adler = adler32(adler32(0, nullptr, 0), original.data(), static_cast<uInt>(original.size()));
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<uint8_t>(adler >> shift));
    return stream;
}

// The raw DEFLATE data inside a gzip member (RFC 1952).
Bytes gzipBody(const Bytes& gzip) {
    if (gzip.size() < 18 || gzip[0] != 0x1F || gzip[1] != 0x8B) return {};
    const uint8_t flags = gzip[3];
    size_t pos = 10;
    auto skipText = [&gzip](size_t from) {
        while (from < gzip.size() && gzip[from] != 0) ++from;
        return from + 1;
    };
    if (flags & 0x04) pos += 2 + (size_t{gzip[pos]} | size_t{gzip[pos + 1]} << 8);  // FEXTRA
    if (flags & 0x08) pos = skipText(pos);                                          // FNAME
    if (flags & 0x10) pos = skipText(pos);                                          // FCOMMENT
    if (flags & 0x02) pos += 2;                                                     // FHCRC
    if (pos + 8 > gzip.size()) return {};
    return Bytes(gzip.begin() + static_cast<long>(pos), gzip.end() - 8);
}

// Splits the payload over three container blocks, compresses each with
// `compress`, extracts, and compares the report and the PNG bytes.
template <typename Compress>
void expectExtracts(Compress compress) {
    const Bytes& payload = pngPayload();
    std::vector<Bytes> streams;
    std::ostringstream report;
    const std::vector<Bytes> parts = tessel::splitEvenly(payload, 3);
    for (size_t i = 0; i < parts.size(); ++i) {
        streams.push_back(compress(parts[i]));
        report << "Block " << i + 1 << ": decompressed " << parts[i].size() << " bytes\n";
    }
    report << "\nTotal blocks: 3\nTotal decompressed: " << payload.size() << " bytes\n"
           << "PNG found at offset: 0\nPNG size: " << payload.size() << " bytes\n";
    const Bytes file = tessel::makeContainer(streams);

    std::ostringstream captured;
    std::streambuf* const saved = std::cout.rdbuf(captured.rdbuf());
    const korvane::ByteBuffer fileData(file.data(), file.size());
    korvane::PngSignatureSearch search;
    const auto joined = korvane::scanContainer(fileData, &search);
    const auto png = joined ? korvane::findPngSignature(*joined, search) : std::nullopt;
    std::cout.rdbuf(saved);

    ASSERT_TRUE(png.has_value()) << captured.str();
    EXPECT_EQ(captured.str(), report.str());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), joined->begin() + png->offset, joined->end()));
}

// Everything a case needs that is missing: the icons, and its program if it
// has one (the first of `names` found on PATH goes to `program`, quoted for
// the shell).
std::vector<Missing> missingFor(const Missing& tool, std::initializer_list<const char*> names, std::string& program) {
    std::vector<Missing> missing;
    if (pngPayload().empty()) missing.push_back({"the Tango icons' PNG files", "tango-icon-theme"});
    for (const char* name : names) {
        if (const auto found = testsupport::findProgram(name)) {
            program.assign(1, '\'').append(found->string()).append(1, '\'');
            return missing;
        }
    }
    if (names.size() > 0) missing.push_back(tool);
    return missing;
}

TEST(RealCompressor, Zopfli) {
    std::string zopfli;
    KORVANE_SKIP_IF_MISSING(missingFor({"zopfli", "zopfli"}, {"zopfli"}, zopfli));
    for (const char* iterations : {"--i1", "--i15"})
        expectExtracts(
            [&](const Bytes& part) { return runTool(zopfli + " --zlib -c " + iterations + " /dev/stdin", part); });
}

TEST(RealCompressor, Pigz) {
    std::string pigz;
    KORVANE_SKIP_IF_MISSING(missingFor({"pigz", "pigz"}, {"pigz"}, pigz));
    for (const char* level : {"-1", "-6", "-9", "-11"})
        expectExtracts([&](const Bytes& part) { return runTool(pigz + " -z -c " + level, part); });
}

TEST(RealCompressor, SevenZip) {
    std::string sevenZip;
    KORVANE_SKIP_IF_MISSING(missingFor({"7-Zip (7zz)", "7zip"}, {"7zz", "7z"}, sevenZip));
    for (const char* level : {"-mx=1", "-mx=5", "-mx=9"})
        expectExtracts([&](const Bytes& part) {
            const Bytes gzip = runTool(sevenZip + " a -tgzip -si -so -bd " + level + " dummy", part);
            return zlibWrap(gzipBody(gzip), part);
        });
}

TEST(RealCompressor, LibdeflateEveryLevel) {
    std::string unused;
    std::vector<Missing> missing = missingFor({}, {}, unused);
#ifndef KORVANE_LIBDEFLATE
    missing.push_back({"libdeflate (header and library, found when CMake configures)", "libdeflate-dev"});
#endif
    KORVANE_SKIP_IF_MISSING(missing);
#ifdef KORVANE_LIBDEFLATE
    for (int level = 1; level <= 12; ++level) {
        SCOPED_TRACE(level);
        expectExtracts([&](const Bytes& part) {
            libdeflate_compressor* const compressor = libdeflate_alloc_compressor(level);
            Bytes stream(libdeflate_zlib_compress_bound(compressor, part.size()));
            stream.resize(libdeflate_zlib_compress(compressor, part.data(), part.size(), stream.data(), stream.size()));
            libdeflate_free_compressor(compressor);
            return stream;
        });
    }
#endif
}

}  // namespace
