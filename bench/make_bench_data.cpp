// make-bench-data: writes the benchmark containers into DIR, made from real
// files that Debian packages install (a missing file names its package).
//
//   make-bench-data DIR [NAME...]
//
// NAMEs (without ".tessel") limit the run to some of the inputs (INPUTS below;
// README, Benchmarks, describes them). Each input's data is repeated, or cut at
// its end, to fill its streams.

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tessel_format.hpp"
#include "tessel_writer.hpp"

namespace {

using tessel::Bytes;
namespace fs = std::filesystem;

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

[[noreturn]] void missing(const std::string& what, const std::string& package) {
    throw std::runtime_error(what + " is missing: install the Debian package " + package);
}

Bytes packageFile(const std::string& path, const std::string& package) {
    if (!fs::exists(path)) missing(path, package);
    return tessel::readWholeFile(path);
}

// A command's standard output, or nothing when it fails.
Bytes commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    Bytes out(1 << 20);
    size_t size = 0;
    while (size_t got = std::fread(out.data() + size, 1, out.size() - size, pipe))
        if ((size += got) == out.size()) out.resize(2 * size);
    out.resize(size);
    return pclose(pipe) == 0 ? out : Bytes{};
}

// The regular files `package` installed under `prefix` whose names end in
// `suffix`, in name order, each read and passed through `transform`, joined.
Bytes packageFiles(
    const std::string& package, const std::string& prefix, const std::string& suffix,
    const std::function<Bytes(const Bytes&)>& transform = [](const Bytes& file) { return file; }) {
    const Bytes listing = commandOutput("dpkg -L " + package + " 2>/dev/null");
    std::vector<std::string> paths;
    for (auto start = listing.begin(), end = start; start < listing.end(); start = end + 1) {
        end = std::find(start, listing.end(), '\n');
        const std::string path(start, end);
        if (path.starts_with(prefix) && path.ends_with(suffix) && fs::is_regular_file(fs::symlink_status(path)))
            paths.push_back(path);
    }
    if (paths.empty()) missing(prefix + "*" + suffix, package);
    std::sort(paths.begin(), paths.end());
    Bytes joined;
    for (const std::string& path : paths) append(joined, transform(tessel::readWholeFile(path)));
    return joined;
}

void put32(Bytes& out, uLong value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(Bytes& out, const char* type, const Bytes& body) {
    put32(out, body.size());
    out.insert(out.end(), type, type + 4);
    append(out, body);
    put32(out, crc32_z(0, out.data() + out.size() - body.size() - 4, body.size() + 4));
}

// A JPEG photo decoded by djpeg as an 8-bit RGB PNG: rows with filter byte 0,
// compressed at `level` (0: stored) in one IDAT chunk.
Bytes photoPng(const std::string& jpeg, int level) {
    if (!fs::exists(jpeg)) missing(jpeg, "lomiri-wallpapers-20.04");
    const Bytes ppm = commandOutput("djpeg '" + jpeg + "'");
    if (ppm.empty()) missing("djpeg", "libjpeg-turbo-progs");
    unsigned width = 0, height = 0;
    int headerEnd = 0;
    const std::string head(ppm.begin(), ppm.begin() + std::min<std::ptrdiff_t>(32, std::ssize(ppm)));
    std::sscanf(head.c_str(), "P6 %u %u 255%*1[\n]%n", &width, &height, &headerEnd);
    const size_t stride = size_t{width} * 3, pixels = static_cast<size_t>(headerEnd);
    if (headerEnd == 0 || ppm.size() != pixels + stride * height)
        throw std::runtime_error(jpeg + ": unexpected djpeg output");
    Bytes rows, header;
    for (size_t y = 0; y < height; ++y) {
        rows.push_back(0);
        const auto row = ppm.begin() + static_cast<std::ptrdiff_t>(pixels + y * stride);
        rows.insert(rows.end(), row, row + static_cast<std::ptrdiff_t>(stride));
    }
    Bytes out(std::begin(korvane::PNG_SIGNATURE), std::end(korvane::PNG_SIGNATURE));
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits per channel, RGB, no interlace
    appendChunk(out, "IHDR", header);
    appendChunk(out, "IDAT", tessel::zlibCompress(rows, {.level = level}));
    appendChunk(out, "IEND", {});
    return out;
}

Bytes photos(int level) {
    Bytes joined;
    for (const char* name : {"Kleiber_by_Lukas_Baubkus", "Infinite-Sea_by_Aury88"})
        append(joined, photoPng(std::string("/usr/share/backgrounds/") + name + ".jpg", level));
    return joined;
}

const Bytes& compressedPhotos() {
    static const Bytes data = photos(6);
    return data;
}

// desktop-base's PNG images (boot, login and desktop artwork), each with its
// image data stored: the filtered rows as the PNG holds them.
const Bytes& desktopRows() {
    static const Bytes data =
        packageFiles("desktop-base", "/", ".png", [](const Bytes& png) { return tessel::pngWithStoredImageData(png); });
    return data;
}

// `data` over and over, cut at `size` bytes.
Bytes repeated(const Bytes& data, size_t size) {
    Bytes out;
    out.reserve(size);
    while (out.size() < size)
        out.insert(out.end(), data.begin(),
                   data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), size - out.size())));
    return out;
}

// C++ headers and CMake's help and modules, with a PNG in the middle.
Bytes textWithPng() {
    Bytes text = packageFiles("libstdc++-12-dev", "/usr/include/c++/12/", "");
    append(text, packageFiles("cmake-data", "/usr/share/cmake-3.25/Help/", ".rst"));
    append(text, packageFiles("cmake-data", "/usr/share/cmake-3.25/Modules/", ".cmake"));
    const Bytes half = repeated(text, 50 << 20);
    Bytes joined = half;
    append(joined, packageFile("/usr/share/desktop-base/softwaves-theme/grub/grub-16x9.png", "desktop-base"));
    append(joined, half);
    return joined;
}

Bytes preview() {
    return tessel::pngWithStoredImageData(packageFile(
        "/usr/share/plasma/look-and-feel/org.debian.desktop/contents/previews/preview.png", "desktop-base"));
}

struct Input {
    const char* name;
    int level;
    size_t streams;
    size_t streamSize;  // when not 0, the data is repeated or cut to streams * streamSize bytes
    std::function<Bytes()> data;
};

const Input INPUTS[] = {
    {"png-compressed", 6, 100, 1 << 20, compressedPhotos},
    {"png-stored-l9", 9, 25, 4 << 20, desktopRows},
    {"photo-rows-l6", 6, 100, 1 << 20, [] { return photos(0); }},
    {"text-l9", 9, 6, 0, textWithPng},
    {"blocks-4k", 6, 24000, 4096, desktopRows},
    {"blocks-1430", 6, 70000, 1430, desktopRows},
    {"stored-1430", 0, 60000, 1430, compressedPhotos},
    {"small-preview", 9, 3, 0, preview},
};

// The data in `streams` nearly equal parts, compressed on every core.
Bytes container(const Bytes& data, size_t streams, int level) {
    const std::vector<Bytes> parts = tessel::splitEvenly(data, streams);
    std::vector<Bytes> compressed(streams);
    std::atomic<size_t> next{0};
    {
        std::vector<std::jthread> pool(std::max(1U, std::thread::hardware_concurrency()));
        for (std::jthread& thread : pool)
            thread = std::jthread([&] {
                for (size_t i; (i = next++) < streams;)
                    compressed[i] = tessel::zlibCompress(parts[i], {.level = level});
            });
    }
    return tessel::makeContainer(compressed);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> wanted(argv + std::min(argc, 2), argv + argc);
    const auto chosen = [&](const Input& in) {
        return wanted.empty() || std::find(wanted.begin(), wanted.end(), in.name) != wanted.end();
    };
    if (argc < 2 || std::count_if(std::begin(INPUTS), std::end(INPUTS), chosen) < std::ssize(wanted)) {
        std::fprintf(stderr, "usage: make-bench-data DIR [NAME...]\n  names:");
        for (const Input& in : INPUTS) std::fprintf(stderr, " %s", in.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    try {
        fs::create_directories(argv[1]);
        for (const Input& in : INPUTS) {
            if (!chosen(in)) continue;
            const Bytes data = in.streamSize == 0 ? in.data() : repeated(in.data(), in.streams * in.streamSize);
            const Bytes file = container(data, in.streams, in.level);
            // A temporary name first: an interrupted run leaves no truncated file.
            const std::string path = std::string(argv[1]) + "/" + in.name + ".tessel";
            tessel::writeWholeFile(path + ".part", file);
            fs::rename(path + ".part", path);
            std::printf("%-20s %11zu bytes, %6zu streams, level %d, decodes to %11zu bytes\n",
                        (std::string(in.name) + ".tessel").c_str(), file.size(), in.streams, in.level, data.size());
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-bench-data: %s\n", error.what());
        return 1;
    }
    return 0;
}
