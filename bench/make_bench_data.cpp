// make-bench-data: writes the benchmark containers into DIR.
//
//   make-bench-data DIR [NAME...]
//
// The same bytes on every run (fixed seeds; threads only split the work).
// NAMEs (without ".tessel") limit the run to some of the files. The first five
// decode to at least 100 MiB each:
//
//   png-compressed  photo-like PNG, image data at level 6, wrapped at level 6
//                   in 64 blocks (the wrapper mostly emits stored blocks)
//   png-stored-l9   screenshot-like PNG with stored image data, level 9, 16 blocks (long matches)
//   photo-rows-l6   photo-like PNG with stored image data, level 6, 32 blocks (mostly literals)
//   text-l9         made-up text with a small PNG in the middle, level 9, 4 blocks
//   blocks-4k       photo-like PNG with stored image data, level 6, in 4 KiB blocks (per-block cost)
//   small-300k      photo-like PNG of 300 KB with stored image data, level 9, 3 blocks

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tessel_format.hpp"
#include "tessel_writer.hpp"

namespace {

using tessel::Bytes;

uint64_t hash(uint64_t x) {  // splitmix64's mixer
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}
uint64_t hash(uint64_t seed, uint64_t a, uint64_t b) { return hash(hash(seed + 0x9E3779B97F4A7C15ULL * a) + b); }

// Runs fn(0..count-1) on every core; each index writes only its own result.
void parallelFor(size_t count, const std::function<void(size_t)>& fn) {
    std::atomic<size_t> next{0};
    std::vector<std::jthread> pool(std::max(1U, std::thread::hardware_concurrency()));
    for (std::jthread& thread : pool)
        thread = std::jthread([&] {
            for (size_t i; (i = next++) < count;) fn(i);
        });
}

void put32(Bytes& out, uLong value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(Bytes& out, const char* type, const Bytes& body) {
    put32(out, body.size());
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    put32(out, crc32_z(0, out.data() + out.size() - body.size() - 4, body.size() + 4));
}

// An 8-bit RGB PNG from its rows (each a filter byte and the pixels), the
// image data compressed at `level` (0: stored) in one IDAT chunk.
Bytes png(uint32_t width, uint32_t height, const Bytes& rows, int level) {
    Bytes out(std::begin(korvane::PNG_SIGNATURE), std::end(korvane::PNG_SIGNATURE)), header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits per channel, RGB, no interlace
    appendChunk(out, "IHDR", header);
    appendChunk(out, "IDAT", tessel::zlibCompress(rows, {.level = level}));
    appendChunk(out, "IEND", {});
    return out;
}

// Photo-like rows (filter byte 0): colours interpolated between random ones
// on a 96-pixel grid, plus grain of up to +-noise per channel.
Bytes photoRows(uint32_t width, uint32_t height, int noise, uint64_t seed) {
    constexpr uint32_t CELL = 96;
    const size_t stride = size_t{width} * 3 + 1;
    Bytes rows(stride * height);
    parallelFor(height, [&](size_t y) {
        const float ty = static_cast<float>(y % CELL) / CELL;
        for (uint32_t x = 0; x < width; ++x) {
            const float tx = static_cast<float>(x % CELL) / CELL;
            const uint64_t gx = x / CELL, gy = y / CELL, grain = hash(seed, y, x);
            const uint64_t corner[4] = {hash(seed, gy, gx), hash(seed, gy, gx + 1), hash(seed, gy + 1, gx),
                                        hash(seed, gy + 1, gx + 1)};
            for (unsigned c = 0; c < 3; ++c) {
                float v[4];  // a brightness and a colour cast per grid point
                for (int k = 0; k < 4; ++k) v[k] = float(30 + corner[k] % 190 + (corner[k] >> (20 + 8 * c) & 63)) - 32;
                const float smooth = (v[0] * (1 - tx) + v[1] * tx) * (1 - ty) + (v[2] * (1 - tx) + v[3] * tx) * ty;
                const auto u = [&](unsigned shift) { return static_cast<int>(grain >> (shift + 20 * c) & 1023); };
                const int value = static_cast<int>(smooth) + (u(0) + u(10) - 1023) * noise / 1023;
                rows[y * stride + 1 + size_t{x} * 3 + c] = static_cast<uint8_t>(std::clamp(value, 0, 255));
            }
        }
    });
    return rows;
}

// Screenshot-like rows (filter byte 0): windows with a title bar, a toolbar
// and text or a table, on a desktop gradient. Flat colour and
// repeated glyphs give long matches.
Bytes screenshotRows(uint32_t width, uint32_t height, uint64_t seed) {
    const size_t stride = size_t{width} * 3 + 1;
    Bytes rows(stride * height);
    uint64_t state = seed;
    const auto random = [&state](uint32_t lo, uint32_t hi) { return lo + uint32_t(hash(++state) % (hi - lo + 1)); };
    const auto fill = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint32_t rgb) {
        for (uint32_t y = y0; y < std::min(y0 + h, height); ++y)
            for (uint32_t x = x0; x < std::min(x0 + w, width); ++x)
                for (unsigned c = 0; c < 3; ++c)
                    rows[y * stride + 1 + size_t{x} * 3 + c] = uint8_t(rgb >> (16 - 8 * c));
    };
    // Text: 64 glyphs of 8x14 pixels; words of 2..9 glyphs, short ones the most used.
    const auto text = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t ink) {
        for (uint32_t x = x0, word = 0; x + 80 < x0 + w; x += 8 * (word % 8 + 3)) {
            word = random(0, 199) * random(0, 199) / 200;
            for (uint32_t g = 0; g < word % 8 + 2; ++g)
                for (uint32_t gy = 2; gy < 12; ++gy) {
                    const uint64_t bits = hash(seed, hash(word, g, 0) % 64, gy);
                    for (uint32_t gx = 1; gx < 7; ++gx)
                        if ((bits >> (2 * gx) & 3) == 0) fill(x + 8 * g + gx, y0 + gy, 1, 1, ink);
                }
        }
    };
    for (uint32_t y = 0; y < height; ++y) fill(0, y, width, 1, 0x141E28 + (y / 8 % 64) * 0x000101);
    for (uint32_t top = 16; top + 200 < height;) {
        const uint32_t h = std::min(random(360, 1100), height - top - 16);
        for (uint32_t left = 16; left + 400 < width;) {
            const uint32_t w = std::min(random(700, 2600), width - left - 16);
            fill(left, top, w, h, 0x3C3C46);
            for (uint32_t x = left + 1; x < left + w - 1; ++x) fill(x, top + 1, 1, 27, 0x2850A0 + (x - left) * 96 / w);
            text(left + 12, top + 7, std::min(w / 2, 400U), 0xFFFFFF);
            fill(left + 1, top + 28, w - 2, 32, 0xECECEC);
            for (uint32_t i = 0, n = random(8, 20); i < n && 26 * i + 30 < w; ++i)
                fill(left + 8 + 26 * i, top + 36, 16, 16, uint32_t(hash(seed, i, 0) & 0xFFFFFF));
            const bool table = random(0, 2) == 0;
            for (uint32_t y = top + 60, line = 0; y + 19 < top + h; y += 18, ++line) {
                if (!table) {
                    fill(left + 1, y, w - 2, 18, 0xFAFAF8);
                    text(left + 10, y + 2, random(w / 4, w - 20), 0x181820);  // ragged lines
                    continue;
                }
                fill(left + 1, y, w - 2, 18, line % 2 ? 0xE8EEF8 : 0xFAFAF8);  // striped rows, text in columns
                for (uint32_t x = left + 1; x + 200 < left + w; x += 200) {
                    text(x + 6, y + 2, 180, 0x181820);
                    fill(x + 199, y, 1, 18, 0xC8C8D2);
                }
            }
            left += w + random(12, 40);
        }
        top += h + random(12, 40);
    }
    return rows;
}

// Made-up English-like text: 60,000 words of syllables, each drawn with a
// frequency about 1/rank (the short ones rank first), in sentences with some
// commas, paragraphs of 3..9 sentences and lines of up to 76 characters.
std::string text(size_t size, uint64_t seed) {
    static const char* const syllables[] = {"the", "a",   "in",  "to", "of", "and", "re",   "con", "ter", "ing",
                                            "er",  "ly",  "est", "ba", "mo", "si",  "pro",  "ven", "tal", "or",
                                            "ch",  "ous", "dis", "ka", "lu", "ne",  "ment", "st",  "ow",  "ight",
                                            "pa",  "gi",  "ber", "fu", "ul", "ex",  "wa",   "im",  "zo",  "dy"};
    uint64_t state = seed;
    const auto random = [&state](uint64_t n) { return hash(++state) % n; };
    std::vector<std::string> words(60000);
    for (size_t i = 0; i < words.size(); ++i)
        for (uint64_t s = 0, n = 1 + (i >= 60) + (i >= 2000 ? random(3) : 0); s < n; ++s)
            words[i] += syllables[random(std::size(syllables))];
    std::string out;
    size_t lineStart = 0;
    while (out.size() < size) {
        for (uint64_t sentences = 3 + random(7); sentences > 0; --sentences)
            for (uint64_t w = 0, length = 4 + random(25); w < length; ++w) {
                const double u = static_cast<double>(random(1 << 30)) / (1 << 30);
                std::string word = words[static_cast<size_t>(std::pow(double(words.size()), u)) - 1];
                if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
                word += w + 1 == length ? "." : random(100) < 8 ? "," : "";
                if (out.size() - lineStart + word.size() >= 76) lineStart = (out += '\n').size();
                out += (out.size() == lineStart ? "" : " ") + word;
            }
        lineStart = (out += "\n\n").size();
    }
    out.resize(size);
    return out;
}

struct Container {
    Bytes file;
    size_t blocks, decoded;
};

Container wrap(const Bytes& data, size_t blocks, int level) {
    const std::vector<Bytes> pieces = tessel::splitEvenly(data, blocks);
    std::vector<Bytes> streams(blocks);
    parallelFor(blocks, [&](size_t i) { streams[i] = tessel::zlibCompress(pieces[i], {.level = level}); });
    return {tessel::makeContainer(streams), blocks, data.size()};
}

struct Input {
    const char* name;
    size_t minDecoded;
    std::function<Container()> make;
};

const Input INPUTS[] = {
    {"png-compressed", 100 << 20, [] { return wrap(png(8192, 4700, photoRows(8192, 4700, 40, 0xA11CE), 6), 64, 6); }},
    {"png-stored-l9", 100 << 20, [] { return wrap(png(5120, 6912, screenshotRows(5120, 6912, 0x5C4EE2), 0), 16, 9); }},
    {"photo-rows-l6", 100 << 20, [] { return wrap(png(6144, 5760, photoRows(6144, 5760, 14, 0xF070), 0), 32, 6); }},
    {"text-l9", 100 << 20,
     [] {
         const std::string words = text(size_t{106} << 20, 0x7E47);
         const Bytes picture = png(320, 240, photoRows(320, 240, 6, 0x5A11), 6);
         Bytes joined(words.begin(), words.end());
         joined.insert(joined.begin() + std::ssize(joined) / 2, picture.begin(), picture.end());
         return wrap(joined, 4, 9);
     }},
    {"blocks-4k", 100 << 20,
     [] {
         const Bytes image = png(5760, 6100, photoRows(5760, 6100, 13, 0xB10C), 0);
         return wrap(image, image.size() / 4096, 6);
     }},
    {"small-300k", 0, [] { return wrap(png(400, 250, photoRows(400, 250, 8, 0x5E11), 0), 3, 9); }},
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> wanted(argv + std::min(argc, 2), argv + argc);
    const auto known = [](const std::string& name) {
        return std::any_of(std::begin(INPUTS), std::end(INPUTS), [&](const Input& in) { return name == in.name; });
    };
    if (argc < 2 || !std::all_of(wanted.begin(), wanted.end(), known)) {
        std::fprintf(stderr, "usage: make-bench-data DIR [NAME...]\n  names:");
        for (const Input& in : INPUTS) std::fprintf(stderr, " %s", in.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since); };
    try {
        const auto allStart = Clock::now();
        std::filesystem::create_directories(argv[1]);
        for (const Input& in : INPUTS) {
            if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), in.name) == wanted.end()) continue;
            const auto start = Clock::now();
            const Container c = in.make();
            if (c.decoded < in.minDecoded) throw std::runtime_error(std::string(in.name) + " decodes to too little");
            // A temporary name first: an interrupted run leaves no truncated file.
            const std::string path = std::string(argv[1]) + "/" + in.name + ".tessel";
            tessel::writeWholeFile(path + ".part", c.file);
            std::filesystem::rename(path + ".part", path);
            std::printf("%-22s %11zu bytes, %6zu blocks, decodes to %11zu bytes (ratio %5.2f), %5.1f s\n",
                        (std::string(in.name) + ".tessel").c_str(), c.file.size(), c.blocks, c.decoded,
                        double(c.decoded) / double(c.file.size()), seconds(start).count());
            std::fflush(stdout);
        }
        std::printf("total %.1f s\n", seconds(allStart).count());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-bench-data: %s\n", error.what());
        return 1;
    }
    return 0;
}
