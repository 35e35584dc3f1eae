// make-bench-data: writes the benchmark containers into OUTDIR.
//
//   make-bench-data OUTDIR [NAME...]
//
// Every file decodes to at least 100 MiB and is the same on every run (fixed
// seeds, no dependence on thread timing). NAMEs (without ".tessel") limit the
// run to some of the files.
//
//   png-compressed.tessel  photo-like PNG, IDAT at level 6, wrapped at level 6
//                          in 64 blocks (the wrapper mostly emits stored blocks)
//   png-stored-l9.tessel   screenshot-like PNG with stored IDAT, level 9, 16 blocks
//                          (long matches)
//   photo-rows-l6.tessel   noisy photo-like PNG with stored IDAT, level 6, 32 blocks
//                          (mostly literals)
//   text-l9.tessel         synthetic text with a small PNG in the middle, level 9,
//                          4 blocks
//   blocks-4k.tessel       photo-like PNG with stored IDAT cut into 4096-byte
//                          pieces, one block each, level 6 (per-block cost)

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tessel_writer.hpp"

namespace {

using tessel::Bytes;
constexpr size_t MIN_DECODED = size_t{100} << 20;

// ---------------------------------------------------------------- utilities

struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next() {  // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) * n >> 32); }
    int range(int lo, int hi) { return lo + static_cast<int>(below(static_cast<uint32_t>(hi - lo + 1))); }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

uint8_t clampByte(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// Runs fn(0..count-1) on all cores. Each index writes only its own result, so
// the output does not depend on scheduling.
void parallelFor(size_t count, const std::function<void(size_t)>& fn) {
    const size_t threads = std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(), count));
    std::atomic<size_t> nextIndex{0};
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = nextIndex.fetch_add(1)) < count;) fn(i);
        });
    for (std::thread& thread : pool) thread.join();
}

// ---------------------------------------------------------------- PNG writing

void appendBigEndian32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(Bytes& out, const char* type, std::span<const uint8_t> body) {
    appendBigEndian32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32_z(crc, body.data(), body.size());
    appendBigEndian32(out, static_cast<uint32_t>(crc));
}

// An 8-bit RGB PNG of already filtered rows (a filter byte, then 3 * width bytes,
// per row), with the image data compressed at `level` and cut into 64 KiB IDATs.
Bytes encodePng(uint32_t width, uint32_t height, std::span<const uint8_t> filteredRows, int level) {
    Bytes png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes header;
    appendBigEndian32(header, width);
    appendBigEndian32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, adaptive filters, no interlace
    appendChunk(png, "IHDR", header);
    const Bytes imageData = tessel::zlibCompress(filteredRows, tessel::ZlibOptions{.level = level});
    constexpr size_t IDAT_SIZE = 65536;
    png.reserve(png.size() + imageData.size() + imageData.size() / IDAT_SIZE * 12 + 64);
    for (size_t pos = 0; pos < imageData.size(); pos += IDAT_SIZE)
        appendChunk(png, "IDAT", std::span(imageData).subspan(pos, std::min(IDAT_SIZE, imageData.size() - pos)));
    appendChunk(png, "IEND", {});
    return png;
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

enum class Filtering { None, Adaptive };

// Prefixes every row with its filter byte. Adaptive picks, per row, the filter
// with the smallest sum of absolute (signed) residuals, as common encoders do.
Bytes filterRows(std::span<const uint8_t> pixels, uint32_t width, uint32_t height, Filtering filtering) {
    const size_t stride = size_t{width} * 3;
    Bytes out(size_t{height} * (stride + 1));
    std::vector<uint8_t> zeros(stride, 0);
    parallelFor(height, [&](size_t y) {
        const uint8_t* row = pixels.data() + y * stride;
        uint8_t* dest = out.data() + y * (stride + 1);
        if (filtering == Filtering::None) {
            dest[0] = 0;
            std::memcpy(dest + 1, row, stride);
            return;
        }
        const uint8_t* up = y == 0 ? zeros.data() : row - stride;
        std::vector<uint8_t> trial(stride);
        uint64_t bestCost = UINT64_MAX;
        for (uint8_t type = 0; type < 5; ++type) {
            uint64_t cost = 0;
            for (size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0;
                const int b = up[i];
                const int c = i >= 3 ? up[i - 3] : 0;
                int predicted = 0;
                switch (type) {
                    case 1: predicted = a; break;
                    case 2: predicted = b; break;
                    case 3: predicted = (a + b) / 2; break;
                    case 4: predicted = paeth(a, b, c); break;
                    default: break;
                }
                const auto residual = static_cast<uint8_t>(row[i] - predicted);
                trial[i] = residual;
                cost += static_cast<uint64_t>(std::abs(static_cast<int>(static_cast<int8_t>(residual))));
            }
            if (cost < bestCost) {
                bestCost = cost;
                dest[0] = type;
                std::memcpy(dest + 1, trial.data(), stride);
            }
        }
    });
    return out;
}

// ---------------------------------------------------------------- images

// Photo-like RGB pixels: a smooth field interpolated from a coarse random grid
// (large shapes), a finer grid (texture) and per-pixel noise of +-`noise`.
Bytes photoPixels(uint32_t width, uint32_t height, int noise, uint64_t seed) {
    constexpr uint32_t COARSE = 160, FINE = 12;
    const uint32_t coarseW = width / COARSE + 2, coarseH = height / COARSE + 2;
    const uint32_t fineW = width / FINE + 2, fineH = height / FINE + 2;
    Rng rng(seed);
    // Coarse grid: a luminance and a colour cast per node, so that channels correlate.
    std::vector<float> coarse(size_t{coarseW} * coarseH * 3);
    for (size_t i = 0; i < coarse.size(); i += 3) {
        const float lum = static_cast<float>(rng.range(20, 235));
        for (size_t c = 0; c < 3; ++c) coarse[i + c] = lum + static_cast<float>(rng.range(-30, 30));
    }
    std::vector<float> fine(size_t{fineW} * fineH);
    for (float& value : fine) value = static_cast<float>(rng.range(-14, 14));

    Bytes pixels(size_t{width} * height * 3);
    parallelFor(height, [&](size_t y) {
        Rng pixelRng(seed ^ (0x5851F42D4C957F2DULL * (y + 1)));
        const float cy = static_cast<float>(y) / COARSE, fy = static_cast<float>(y) / FINE;
        const auto cy0 = static_cast<uint32_t>(cy), fy0 = static_cast<uint32_t>(fy);
        const float ct = cy - static_cast<float>(cy0), ft = fy - static_cast<float>(fy0);
        uint8_t* row = pixels.data() + y * width * 3;
        for (uint32_t x = 0; x < width; ++x) {
            const float cx = static_cast<float>(x) / COARSE, fx = static_cast<float>(x) / FINE;
            const auto cx0 = static_cast<uint32_t>(cx), fx0 = static_cast<uint32_t>(fx);
            const float cs = cx - static_cast<float>(cx0), fs = fx - static_cast<float>(fx0);
            auto fineAt = [&](uint32_t gx, uint32_t gy) { return fine[size_t{gy} * fineW + gx]; };
            const float texture = (fineAt(fx0, fy0) * (1 - fs) + fineAt(fx0 + 1, fy0) * fs) * (1 - ft) +
                                  (fineAt(fx0, fy0 + 1) * (1 - fs) + fineAt(fx0 + 1, fy0 + 1) * fs) * ft;
            const uint64_t random = pixelRng.next();
            for (uint32_t c = 0; c < 3; ++c) {
                auto coarseAt = [&](uint32_t gx, uint32_t gy) { return coarse[(size_t{gy} * coarseW + gx) * 3 + c]; };
                const float smooth = (coarseAt(cx0, cy0) * (1 - cs) + coarseAt(cx0 + 1, cy0) * cs) * (1 - ct) +
                                     (coarseAt(cx0, cy0 + 1) * (1 - cs) + coarseAt(cx0 + 1, cy0 + 1) * cs) * ct;
                // Triangular noise: the sum of two uniform values.
                const int u1 = static_cast<int>((random >> (c * 20)) & 0x3FF);
                const int u2 = static_cast<int>((random >> (c * 20 + 10)) & 0x3FF);
                const int grain = noise == 0 ? 0 : ((u1 + u2 - 1023) * noise) / 1023;
                row[x * 3 + c] = clampByte(static_cast<int>(smooth + texture) + grain);
            }
        }
    });
    return pixels;
}

struct Rgb {
    uint8_t r, g, b;
};

// A screenshot-like picture: a desktop with windows holding title bars,
// toolbars of icons, text, tables and patterned areas. Flat colours and
// repeated glyphs and icons make it compress very well.
class Screenshot {
public:
    Screenshot(uint32_t width, uint32_t height, uint64_t seed)
        : width_(width), height_(height), rng_(seed), pixels_(size_t{width} * height * 3) {
        makeGlyphs();
        makeIcons();
        makeWords();
    }

    Bytes render() {
        // Desktop: a vertical gradient in steps of 8 rows.
        for (uint32_t y = 0; y < height_; ++y) {
            const auto shade = static_cast<uint8_t>(40 + (y / 8) % 64);
            fill(0, y, width_, 1, {20, static_cast<uint8_t>(shade / 2 + 30), shade});
        }
        for (uint32_t top = 16; top + 200 < height_;) {
            const uint32_t bandHeight =
                std::min<uint32_t>(static_cast<uint32_t>(rng_.range(360, 1100)), height_ - top - 16);
            uint32_t left = 16;
            while (left + 400 < width_) {
                const uint32_t windowWidth =
                    std::min<uint32_t>(static_cast<uint32_t>(rng_.range(700, 2600)), width_ - left - 16);
                drawWindow(left, top, windowWidth, bandHeight);
                left += windowWidth + static_cast<uint32_t>(rng_.range(12, 40));
            }
            top += bandHeight + static_cast<uint32_t>(rng_.range(12, 40));
        }
        return std::move(pixels_);
    }

private:
    static constexpr uint32_t GLYPH_W = 8, GLYPH_H = 14, GLYPHS = 64, ICON = 16, ICONS = 40;

    void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Rgb color) {
        for (uint32_t row = y; row < std::min(y + h, height_); ++row) {
            uint8_t* p = pixels_.data() + (size_t{row} * width_ + x) * 3;
            for (uint32_t i = 0; i < std::min(w, width_ - x); ++i, p += 3) {
                p[0] = color.r;
                p[1] = color.g;
                p[2] = color.b;
            }
        }
    }

    void put(uint32_t x, uint32_t y, Rgb color) {
        if (x >= width_ || y >= height_) return;
        uint8_t* p = pixels_.data() + (size_t{y} * width_ + x) * 3;
        p[0] = color.r;
        p[1] = color.g;
        p[2] = color.b;
    }

    static Rgb blend(Rgb a, Rgb b, int weight /* 0..3 */) {
        auto mix = [weight](uint8_t u, uint8_t v) { return static_cast<uint8_t>((u * (3 - weight) + v * weight) / 3); };
        return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
    }

    // Glyphs: a few random strokes on a 6x10 grid, with softened edges.
    void makeGlyphs() {
        glyphs_.assign(size_t{GLYPHS} * GLYPH_W * GLYPH_H, 0);
        for (uint32_t g = 0; g < GLYPHS; ++g) {
            uint8_t* cell = glyphs_.data() + size_t{g} * GLYPH_W * GLYPH_H;
            const int strokes = rng_.range(2, 4);
            for (int s = 0; s < strokes; ++s) {
                int x = rng_.range(1, 6), y = rng_.range(2, 11);
                const int dx = rng_.range(-1, 1), dy = rng_.range(-1, 1), length = rng_.range(3, 9);
                for (int i = 0; i < length; ++i, x += dx, y += dy) {
                    if (x < 1 || x > 6 || y < 2 || y > 11) break;
                    cell[y * static_cast<int>(GLYPH_W) + x] = 3;
                    if (x + 1 <= 6 && cell[y * static_cast<int>(GLYPH_W) + x + 1] == 0)
                        cell[y * static_cast<int>(GLYPH_W) + x + 1] = 1;
                }
            }
        }
    }

    void makeIcons() {
        icons_.resize(size_t{ICONS} * ICON * ICON);
        for (uint32_t i = 0; i < ICONS; ++i) {
            const Rgb a{static_cast<uint8_t>(rng_.below(256)), static_cast<uint8_t>(rng_.below(256)),
                        static_cast<uint8_t>(rng_.below(256))};
            const Rgb b{static_cast<uint8_t>(rng_.below(256)), static_cast<uint8_t>(rng_.below(256)),
                        static_cast<uint8_t>(rng_.below(256))};
            const int shape = rng_.range(0, 2);
            for (int y = 0; y < static_cast<int>(ICON); ++y)
                for (int x = 0; x < static_cast<int>(ICON); ++x) {
                    const int dx = x - 8, dy = y - 8;
                    bool inside = shape == 0   ? dx * dx + dy * dy < 40
                                  : shape == 1 ? (x > 2 && x < 13 && y > 3 && y < 12)
                                               : std::abs(dx) + std::abs(dy) < 7;
                    icons_[(i * ICON + static_cast<uint32_t>(y)) * ICON + static_cast<uint32_t>(x)] =
                        inside ? blend(a, b, (x + y) % 4 == 0 ? 1 : 0) : Rgb{236, 236, 236};
                }
        }
    }

    // Words of 2..10 glyphs; shorter ones come up more often (see pickWord).
    void makeWords() {
        for (int i = 0; i < 600; ++i) {
            std::vector<uint8_t> word(static_cast<size_t>(rng_.range(2, 4) + i / 100));
            for (uint8_t& glyph : word) glyph = static_cast<uint8_t>(rng_.below(GLYPHS));
            words_.push_back(std::move(word));
        }
    }

    const std::vector<uint8_t>& pickWord() {
        // Squaring a uniform value skews the choice towards the first words.
        const double u = rng_.uniform();
        return words_[static_cast<size_t>(u * u * static_cast<double>(words_.size()))];
    }

    void drawText(uint32_t x, uint32_t y, uint32_t maxWidth, Rgb ink, Rgb paper) {
        uint32_t pen = x;
        while (true) {
            const std::vector<uint8_t>& word = pickWord();
            const uint32_t advance = static_cast<uint32_t>(word.size() + 1) * GLYPH_W;
            if (pen + advance > x + maxWidth) break;
            for (uint8_t glyph : word) {
                const uint8_t* cell = glyphs_.data() + size_t{glyph} * GLYPH_W * GLYPH_H;
                for (uint32_t gy = 0; gy < GLYPH_H; ++gy)
                    for (uint32_t gx = 0; gx < GLYPH_W; ++gx)
                        if (cell[gy * GLYPH_W + gx] != 0)
                            put(pen + gx, y + gy, blend(paper, ink, cell[gy * GLYPH_W + gx]));
                pen += GLYPH_W;
            }
            pen += GLYPH_W;
        }
    }

    void drawIcon(uint32_t index, uint32_t x, uint32_t y) {
        for (uint32_t iy = 0; iy < ICON; ++iy)
            for (uint32_t ix = 0; ix < ICON; ++ix) put(x + ix, y + iy, icons_[(index * ICON + iy) * ICON + ix]);
    }

    void drawWindow(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
        const Rgb frame{60, 60, 70}, paper{250, 250, 248}, ink{24, 24, 32};
        fill(x, y, w, h, frame);
        // Title bar: the same horizontal gradient on every row.
        const uint32_t titleHeight = 28;
        for (uint32_t row = y + 1; row < y + titleHeight; ++row)
            for (uint32_t col = x + 1; col < x + w - 1; ++col) {
                const auto t = static_cast<uint8_t>(((col - x) * 96) / w);
                put(col, row,
                    {static_cast<uint8_t>(40 + t), static_cast<uint8_t>(80 + t), static_cast<uint8_t>(160 + t / 2)});
            }
        drawText(x + 12, y + 7, std::min<uint32_t>(w / 2, 400), {255, 255, 255}, {60, 100, 180});
        // Toolbar with icons.
        const uint32_t toolbarTop = y + titleHeight, toolbarHeight = 32;
        fill(x + 1, toolbarTop, w - 2, toolbarHeight, {236, 236, 236});
        const uint32_t iconCount = rng_.range(0, 1) != 0 ? 14 : 22;
        const uint32_t firstIcon = rng_.below(ICONS);
        for (uint32_t i = 0; i < iconCount && x + 8 + i * 26 + ICON < x + w; ++i)
            drawIcon((firstIcon + i) % ICONS, x + 8 + i * 26, toolbarTop + 8);
        // Content and a scroll bar.
        const uint32_t top = toolbarTop + toolbarHeight, bottom = y + h - 1;
        const uint32_t left = x + 1, right = x + w - 1 - 14;
        fill(right, top, 14, bottom - top, {220, 220, 224});
        fill(right + 3, top + (bottom - top) / 5, 8, (bottom - top) / 4, {160, 160, 170});
        switch (rng_.range(0, 3)) {
            case 0:
            case 1:  // text
                fill(left, top, right - left, bottom - top, paper);
                for (uint32_t line = top + 10; line + 16 < bottom; line += 18)
                    drawText(left + 10, line, right - left - 20, ink, paper);
                break;
            case 2: {  // table with striped rows and grid lines
                for (uint32_t row = top, index = 0; row < bottom; row += 20, ++index) {
                    const Rgb stripe = index % 2 == 0 ? paper : Rgb{232, 238, 248};
                    fill(left, row, right - left, std::min<uint32_t>(20, bottom - row), stripe);
                    if (row + 17 < bottom)
                        for (uint32_t column = left; column + 200 <= right; column += 200)
                            drawText(column + 6, row + 3, 180, ink, stripe);
                }
                for (uint32_t column = left + 199; column < right; column += 200)
                    fill(column, top, 1, bottom - top, {200, 200, 210});
                break;
            }
            default: {  // patterned area: checks or stripes with a period of a few pixels
                const uint32_t period = static_cast<uint32_t>(rng_.range(3, 12));
                const bool stripes = rng_.range(0, 1) != 0;
                const Rgb a{static_cast<uint8_t>(rng_.below(256)), 180, 200},
                    b{30, static_cast<uint8_t>(rng_.below(256)), 90};
                for (uint32_t row = top; row < bottom; ++row)
                    for (uint32_t col = left; col < right; ++col) {
                        const bool odd =
                            stripes ? ((col + row) / period) % 2 != 0 : ((col / period) + (row / period)) % 2 != 0;
                        put(col, row, odd ? a : b);
                    }
                break;
            }
        }
    }

    uint32_t width_, height_;
    Rng rng_;
    Bytes pixels_;
    std::vector<uint8_t> glyphs_;
    std::vector<Rgb> icons_;
    std::vector<std::vector<uint8_t>> words_;
};

// ---------------------------------------------------------------- text

// English-looking text: a vocabulary of made-up words whose frequencies follow
// Zipf's law (shorter words ranked higher), sentences of 4..28 words with some
// commas, paragraphs of 3..9 sentences, lines wrapped at 76 columns.
std::string syntheticText(size_t size, uint64_t seed) {
    Rng rng(seed);
    static const char* const onsets[] = {"b", "c", "d", "f",  "g",  "h",  "l",  "m",  "n",  "p",  "r",  "s",
                                         "t", "v", "w", "th", "st", "br", "ch", "sh", "pr", "tr", "gr", ""};
    static const char* const vowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai", "e", "a", "o", "i"};
    static const char* const codas[] = {"", "", "", "n", "r", "s", "t", "l", "nd", "st", "ng", "rt", "m", "ck"};
    constexpr size_t VOCABULARY = 30000;
    std::vector<std::string> words;
    for (size_t i = 0; i < VOCABULARY; ++i) {
        // Syllable count grows with rank so that frequent words are short.
        const int syllables = 1 + (i < 60 ? 0 : i < 2000 ? rng.range(0, 1) : rng.range(1, 3));
        std::string word;
        for (int s = 0; s < syllables; ++s) {
            word += onsets[rng.below(std::size(onsets))];
            word += vowels[rng.below(std::size(vowels))];
            word += codas[rng.below(std::size(codas))];
        }
        words.push_back(word);
    }
    std::vector<double> cumulative(VOCABULARY);
    double total = 0;
    for (size_t i = 0; i < VOCABULARY; ++i) cumulative[i] = total += 1.0 / std::pow(static_cast<double>(i + 1), 1.07);

    std::string text;
    text.reserve(size + 256);
    size_t lineStart = 0;
    auto emit = [&](const std::string& token) {
        if (text.size() - lineStart + token.size() + 1 > 76) {
            text += '\n';
            lineStart = text.size();
        } else if (text.size() != lineStart) {
            text += ' ';
        }
        text += token;
    };
    while (text.size() < size) {
        const int sentences = rng.range(3, 9);
        for (int s = 0; s < sentences; ++s) {
            const int length = rng.range(4, 28);
            for (int w = 0; w < length; ++w) {
                const double u = rng.uniform() * total;
                const size_t rank =
                    static_cast<size_t>(std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
                std::string token = words[std::min(rank, VOCABULARY - 1)];
                if (w == 0) token[0] = static_cast<char>(token[0] - 'a' + 'A');
                if (w == length - 1) {
                    const uint32_t mark = rng.below(100);
                    token += mark < 5 ? '?' : mark < 8 ? '!' : '.';
                } else if (rng.below(100) < 8) {
                    token += ',';
                }
                emit(token);
            }
        }
        text += "\n\n";
        lineStart = text.size();
    }
    text.resize(size);
    return text;
}

// ---------------------------------------------------------------- containers

struct Container {
    Bytes file;
    size_t blocks = 0;
    size_t decoded = 0;
};

Container containerOf(const std::vector<Bytes>& pieces, int level) {
    std::vector<Bytes> streams(pieces.size());
    parallelFor(pieces.size(),
                [&](size_t i) { streams[i] = tessel::zlibCompress(pieces[i], tessel::ZlibOptions{.level = level}); });
    Container container;
    container.file = tessel::makeContainer(streams);
    container.blocks = pieces.size();
    for (const Bytes& piece : pieces) container.decoded += piece.size();
    return container;
}

std::vector<Bytes> fixedSizePieces(std::span<const uint8_t> data, size_t pieceSize) {
    std::vector<Bytes> pieces;
    for (size_t pos = 0; pos < data.size(); pos += pieceSize) {
        const auto piece = data.subspan(pos, std::min(pieceSize, data.size() - pos));
        pieces.emplace_back(piece.begin(), piece.end());
    }
    return pieces;
}

Bytes storedPhotoPng(uint32_t width, uint32_t height, int noise, uint64_t seed) {
    const Bytes pixels = photoPixels(width, height, noise, seed);
    return encodePng(width, height, filterRows(pixels, width, height, Filtering::None), 0);
}

Container pngCompressed() {
    constexpr uint32_t W = 8192, H = 5440;
    const Bytes pixels = photoPixels(W, H, 40, 0xA11CE);
    const Bytes png = encodePng(W, H, filterRows(pixels, W, H, Filtering::Adaptive), 6);
    return containerOf(tessel::splitEvenly(png, 64), 6);
}

Container pngStoredL9() {
    constexpr uint32_t W = 5120, H = 6912;
    const Bytes pixels = Screenshot(W, H, 0x5C4EE2).render();
    const Bytes png = encodePng(W, H, filterRows(pixels, W, H, Filtering::None), 0);
    return containerOf(tessel::splitEvenly(png, 16), 9);
}

Container photoRowsL6() { return containerOf(tessel::splitEvenly(storedPhotoPng(6144, 5760, 8, 0xF070), 32), 6); }

Container textL9() {
    const std::string text = syntheticText(size_t{106} << 20, 0x7E47);
    // A small compressed PNG, placed in the middle of the text.
    constexpr uint32_t W = 320, H = 240;
    const Bytes pixels = photoPixels(W, H, 6, 0x5A11);
    const Bytes png = encodePng(W, H, filterRows(pixels, W, H, Filtering::Adaptive), 6);
    Bytes joined;
    joined.reserve(text.size() + png.size());
    const size_t middle = text.size() / 2;
    joined.insert(joined.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(middle));
    joined.insert(joined.end(), png.begin(), png.end());
    joined.insert(joined.end(), text.begin() + static_cast<std::ptrdiff_t>(middle), text.end());
    return containerOf(tessel::splitEvenly(joined, 4), 9);
}

Container blocks4k() { return containerOf(fixedSizePieces(storedPhotoPng(5760, 6100, 10, 0xB10C), 4096), 6); }

struct DataFile {
    const char* name;
    Container (*make)();
};

const DataFile DATA_FILES[] = {
    {"png-compressed", pngCompressed}, {"png-stored-l9", pngStoredL9},
    {"photo-rows-l6", photoRowsL6},    {"text-l9", textL9},
    {"blocks-4k", blocks4k},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " OUTDIR [NAME...]\n  names:";
        for (const DataFile& file : DATA_FILES) std::cerr << ' ' << file.name;
        std::cerr << '\n';
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    const std::vector<std::string> wanted(argv + 2, argv + argc);
    for (const std::string& name : wanted)
        if (std::none_of(std::begin(DATA_FILES), std::end(DATA_FILES),
                         [&](const DataFile& f) { return name == f.name; })) {
            std::cerr << "unknown data file: " << name << '\n';
            return 2;
        }
    try {
        std::filesystem::create_directories(outDir);
        const auto allStart = std::chrono::steady_clock::now();
        for (const DataFile& file : DATA_FILES) {
            if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), file.name) == wanted.end()) continue;
            const auto start = std::chrono::steady_clock::now();
            const Container container = file.make();
            if (container.decoded < MIN_DECODED)
                throw std::runtime_error(std::string(file.name) + " decodes to too little");
            // Written under a temporary name first, so that an interrupted run
            // never leaves a complete-looking but truncated file.
            const std::filesystem::path path = outDir / (std::string(file.name) + ".tessel");
            const std::filesystem::path partial = outDir / (std::string(file.name) + ".tessel.part");
            tessel::writeWholeFile(partial.string(), container.file);
            std::filesystem::rename(partial, path);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%-22s %11zu bytes, %6zu blocks, decodes to %11zu bytes (ratio %5.2f), %5.1f s\n",
                        path.filename().string().c_str(), container.file.size(), container.blocks, container.decoded,
                        static_cast<double>(container.decoded) / static_cast<double>(container.file.size()), seconds);
            std::fflush(stdout);
        }
        std::printf("total %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - allStart).count());
    } catch (const std::exception& error) {
        std::cerr << "make-bench-data: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
