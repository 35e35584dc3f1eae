// Streams of real PNG images from compressors other than zlib decode exactly,
// bytes and consumed count, on every path. The programs are looked up on PATH;
// libdeflate is built in when CMake finds it. What is missing skips a case.

#include <gtest/gtest.h>
#ifdef KORVANE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../decoder/decode_support.hpp"
#include "missing_packages.hpp"

namespace {

namespace fs = std::filesystem;
using korvane::DecodePath;
using tessel::Bytes;
using testsupport::Missing;

// Real PNG files: every 80th Tango icon, concatenated.
const Bytes& pngPayload() {
    static const Bytes payload = [] {
        Bytes all;
        std::vector<fs::path> icons;
        if (fs::exists("/usr/share/icons/Tango"))
            for (const auto& entry : fs::recursive_directory_iterator("/usr/share/icons/Tango"))
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

// What a shell command writes when it reads `input`.
Bytes runTool(const std::string& command, const Bytes& input) {
    const fs::path in = fs::temp_directory_path() / ("korvane-tool-in-" + std::to_string(::getpid()));
    tessel::writeWholeFile(in.string(), input);
    std::FILE* const out = popen((command + " < '" + in.string() + "' 2>/dev/null").c_str(), "r");
    Bytes result;
    for (int c; out != nullptr && (c = std::fgetc(out)) != EOF;) result.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(out != nullptr ? pclose(out) : -1, 0) << command;
    fs::remove(in);
    return result;
}

// The raw DEFLATE data inside a gzip member (RFC 1952) as 7-Zip writes it:
// a 10-byte header without optional fields, the data, an 8-byte trailer.
Bytes gzipBody(const Bytes& gzip) {
    EXPECT_TRUE(gzip.size() > 18 && gzip[3] == 0) << "not a gzip member without optional fields";
    return gzip.size() > 18 ? Bytes(gzip.begin() + 10, gzip.end() - 8) : Bytes{};
}

// Compresses each third of the payload with `compress` (a zlib stream, or raw
// DEFLATE when `raw`) and decodes it on every path.
template <typename Compress>
void expectDecodes(Compress compress, bool raw = false) {
    for (const Bytes& part : tessel::splitEvenly(pngPayload(), 3)) {
        const Bytes stream = compress(part);
        for (const DecodePath path : korvane::test::ALL_PATHS)
            ASSERT_EQ(korvane::test::inflateAppend({}, stream, path, nullptr, raw),
                      korvane::test::ok(part, stream.size()));
    }
}

// What a case is missing: the icons, and its program unless one of `names`
// is on PATH (then `program` is that, quoted for the shell).
std::vector<Missing> missingFor(const Missing& tool, const std::vector<const char*>& names, std::string& program) {
    std::vector<Missing> missing;
    if (pngPayload().empty()) missing.push_back({"the Tango icons' PNG files", "tango-icon-theme"});
    for (const char* name : names)
        if (const auto found = testsupport::findProgram(name)) {
            program.assign(1, '\'').append(found->string()).append(1, '\'');  // not operator+: GCC 12 warns wrongly
            return missing;
        }
    if (!names.empty()) missing.push_back(tool);
    return missing;
}

TEST(RealCompressor, Zopfli) {
    std::string zopfli;
    KORVANE_SKIP_IF_MISSING(missingFor({"zopfli", "zopfli"}, {"zopfli"}, zopfli));
    for (const char* iterations : {"--i1", "--i15"})
        expectDecodes(
            [&](const Bytes& part) { return runTool(zopfli + " --zlib -c " + iterations + " /dev/stdin", part); });
}

TEST(RealCompressor, Pigz) {
    std::string pigz;
    KORVANE_SKIP_IF_MISSING(missingFor({"pigz", "pigz"}, {"pigz"}, pigz));
    for (const char* level : {"-1", "-6", "-9", "-11"})
        expectDecodes([&](const Bytes& part) { return runTool(pigz + " -z -c " + level, part); });
}

TEST(RealCompressor, SevenZip) {
    std::string sevenZip;
    KORVANE_SKIP_IF_MISSING(missingFor({"7-Zip (7zz)", "7zip"}, {"7zz", "7z"}, sevenZip));
    for (const char* level : {"-mx=1", "-mx=5", "-mx=9"})
        expectDecodes(
            [&](const Bytes& part) {
                return gzipBody(runTool(sevenZip + " a -tgzip -si -so -bd " + level + " dummy", part));
            },
            true);
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
        expectDecodes([&](const Bytes& part) {
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
