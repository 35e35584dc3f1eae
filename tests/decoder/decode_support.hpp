#pragma once

// deflate_writer: hand-made DEFLATE streams from the bit order alone, knowing
// nothing of the decoder (numbers go out least significant bit first, prefix
// codes most significant bit first). korvane::test: a decode as one comparable
// result, suites on every decode path, test data.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tessel_writer.hpp"
#include "testing.hpp"

namespace deflate_writer {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BitWriter {
public:
    // A number of `count` bits (up to 32), least significant bit first.
    BitWriter& bits(uint64_t value, int count) {
        value &= (uint64_t{1} << count) - 1;
        for (int taken = 0; count > 0; value >>= taken, count -= taken, bitCount_ += static_cast<size_t>(taken)) {
            const auto used = static_cast<int>(bitCount_ % 8);
            if (used == 0) data_.push_back(0);
            data_.back() = static_cast<uint8_t>(data_.back() | value << used);
            taken = std::min(count, 8 - used);
        }
        return *this;
    }
    // Bits in arrival order, as a string of '0' and '1' (spaces group codes).
    BitWriter& arrival(const std::string& bitString) {
        for (char c : bitString)
            if (c != ' ') bits(c == '1' ? 1U : 0U, 1);
        return *this;
    }
    // Fills the current byte with zero bits, then appends whole bytes.
    BitWriter& bytes(const Bytes& data) {
        data_.insert(data_.end(), data.begin(), data.end());
        bitCount_ = 8 * data_.size();
        return *this;
    }
    BitWriter& blockHeader(bool final, uint32_t type) { return bits(final, 1).bits(type, 2); }
    // Stored block: header, padding to the byte, LEN, NLEN, payload.
    BitWriter& storedBlock(bool final, const Bytes& payload) {
        const auto len = static_cast<uint32_t>(payload.size());
        return blockHeader(final, 0).bytes({}).bits(len, 16).bits(~len & 0xFFFFU, 16).bytes(payload);
    }
    [[nodiscard]] size_t bitCount() const { return bitCount_; }
    // The bytes written so far; a partial last byte is padded with zeros.
    [[nodiscard]] const Bytes& data() const { return data_; }

private:
    Bytes data_;
    size_t bitCount_ = 0;
};

// A canonical prefix code (RFC 1951, 3.2.2) for a list of code lengths; the
// codes are kept bit-reversed, as they go out most significant bit first.
struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;

    explicit Code(std::vector<int> codeLengths) : lengths(std::move(codeLengths)), codes(lengths.size()) {
        std::vector<uint32_t> count(16), next(16);
        for (int l : lengths) ++count.at(static_cast<size_t>(l));
        count[0] = 0;
        for (size_t l = 1, c = 0; l < count.size(); ++l) next[l] = static_cast<uint32_t>(c = (c + count[l - 1]) << 1);
        for (size_t s = 0; s < lengths.size(); ++s) {
            const uint32_t code = lengths[s] > 0 ? next[static_cast<size_t>(lengths[s])]++ : 0;
            for (int i = 0; i < lengths[s]; ++i) codes[s] |= ((code >> i) & 1U) << (lengths[s] - 1 - i);
        }
    }
    void write(BitWriter& w, int symbol) const {
        const auto s = static_cast<size_t>(symbol);
        if (lengths.at(s) == 0) throw std::logic_error("symbol has no code");
        w.bits(codes[s], lengths[s]);
    }
};

// A zlib header (deflate, no dictionary) to write a stream after.
inline BitWriter zlibHeader() { return BitWriter().bits(0x78, 8).bits(0x01, 8); }

inline std::vector<int> fixedLiteralLengths() {
    return std::vector<int>(144, 8) + std::vector<int>(112, 9) + std::vector<int>(24, 7) + std::vector<int>(8, 8);
}

// RFC 1951, 3.2.5, derived from its pattern: after the first 8 length symbols
// and the first 4 distance symbols, each extra-bit count serves 4 (lengths) or
// 2 (distances) symbols and every base follows the range of the one before.
constexpr int lengthExtra(int symbol) { return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4; }
constexpr int distanceExtra(int symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }
constexpr std::array<int, 29> LENGTH_BASES = [] {
    std::array<int, 29> base{3};
    for (size_t i = 1; i < base.size(); ++i) base[i] = base[i - 1] + (1 << lengthExtra(static_cast<int>(i) + 256));
    base[28] = 258;
    return base;
}();
constexpr std::array<int, 30> DISTANCE_BASES = [] {
    std::array<int, 30> base{1};
    for (size_t i = 1; i < base.size(); ++i) base[i] = base[i - 1] + (1 << distanceExtra(static_cast<int>(i) - 1));
    return base;
}();

// Writes the symbols of a Huffman-coded block body with the given codes.
struct BlockBody {
    BitWriter& w;
    const Code& literals;
    const Code& distances;

    // A literal/length symbol's code alone.
    BlockBody& literal(int symbol) {
        literals.write(w, symbol);
        return *this;
    }
    BlockBody& text(const char* s) {
        while (*s != 0) literal(static_cast<unsigned char>(*s++));
        return *this;
    }
    // A length symbol with explicit extra bits, then a distance symbol with its extra bits.
    BlockBody& lengthCode(int symbol, uint32_t extra) {
        literals.write(w, symbol);
        w.bits(extra, lengthExtra(symbol));
        return *this;
    }
    BlockBody& distanceCode(int symbol, uint32_t extra) {
        distances.write(w, symbol);
        w.bits(extra, distanceExtra(symbol));
        return *this;
    }
    // A copy with the highest length and distance symbols that cover it; length 258 uses symbol 285.
    BlockBody& copy(int length, int distance) {
        const auto l = std::upper_bound(LENGTH_BASES.begin(), LENGTH_BASES.end(), length) - LENGTH_BASES.begin() - 1;
        const auto d =
            std::upper_bound(DISTANCE_BASES.begin(), DISTANCE_BASES.end(), distance) - DISTANCE_BASES.begin() - 1;
        return lengthCode(257 + static_cast<int>(l), static_cast<uint32_t>(length - LENGTH_BASES[size_t(l)]))
            .distanceCode(static_cast<int>(d), static_cast<uint32_t>(distance - DISTANCE_BASES[size_t(d)]));
    }
    BlockBody& end() { return literal(256); }
};

inline BlockBody fixedBlock(BitWriter& w, bool final) {
    static const Code literals(fixedLiteralLengths()), distances(std::vector<int>(32, 5));
    w.blockHeader(final, 1);
    return {w, literals, distances};
}

// A code-length symbol (0..18) and the value of its extra bits.
struct LengthOp {
    int symbol;
    uint32_t extra = 0;
};

// A dynamic block header from explicit parts: the counts, the code-length
// code's lengths (by symbol; the first `hclen` in sending order go out) and the
// code-length symbols as they are to appear.
inline BitWriter& dynamicHeader(BitWriter& w, bool final, int hlit, int hdist, int hclen,
                                const std::vector<int>& codeLengthLengths, const std::vector<LengthOp>& ops) {
    static constexpr int ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.blockHeader(final, 2).bits(static_cast<uint32_t>(hlit - 257), 5).bits(static_cast<uint32_t>(hdist - 1), 5);
    w.bits(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i)
        w.bits(static_cast<uint32_t>(codeLengthLengths.at(static_cast<size_t>(ORDER[i]))), 3);
    const Code clc(codeLengthLengths);
    for (const LengthOp& op : ops) {
        clc.write(w, op.symbol);
        if (op.symbol >= 16) w.bits(op.extra, op.symbol == 16 ? 2 : op.symbol == 17 ? 3 : 7);
    }
    return w;
}

// A dynamic block header that sends every length plainly with a 4-bit code for
// each of the code-length symbols 0..15.
inline BitWriter& dynamicHeader(BitWriter& w, bool final, const std::vector<int>& literalLengths,
                                const std::vector<int>& distanceLengths) {
    std::vector<LengthOp> ops;
    for (int l : literalLengths + distanceLengths) ops.push_back({l});
    return dynamicHeader(w, final, static_cast<int>(literalLengths.size()), static_cast<int>(distanceLengths.size()),
                         19, std::vector<int>(16, 4) + std::vector<int>(3, 0), ops);
}

// The lengths of an alphabet of `count` symbols in which only the listed ones have codes.
inline std::vector<int> lengthsFor(size_t count, std::initializer_list<std::pair<int, int>> symbolLengths) {
    std::vector<int> lengths(count, 0);
    for (auto [symbol, length] : symbolLengths) lengths.at(static_cast<size_t>(symbol)) = length;
    return lengths;
}

}  // namespace deflate_writer

namespace korvane::test {

using namespace deflate_writer;

// The whole result of one decode: the bytes and the consumed count, or the error text.
struct Outcome {
    Bytes bytes;
    size_t consumed = 0;
    std::string error;
    bool operator==(const Outcome&) const = default;
};

inline Outcome ok(Bytes bytes, size_t consumed) { return {std::move(bytes), consumed, {}}; }
inline Outcome ok(const std::string& text, size_t consumed) { return {Bytes(text.begin(), text.end()), consumed, {}}; }
inline Outcome fails(const char* message) { return {{}, 0, message}; }

inline void PrintTo(const Outcome& o, std::ostream* os) {
    *os << (o.error.empty() ? "" : "error \"" + o.error + "\", ") << o.bytes.size() << " bytes, consumed " << o.consumed
        << ":";
    for (size_t i = 0; i < o.bytes.size() && i < 48; ++i) *os << ' ' << static_cast<int>(o.bytes[i]);
}

// A zlib stream, or with `raw` a bare DEFLATE stream, decoded onto `earlier`:
// the whole buffer afterwards (also after an error) and the consumed count, or the error.
inline Outcome inflateAppend(const Bytes& earlier, const Bytes& stream, DecodePath path,
                             OutputWatcher* watcher = nullptr, bool raw = false) {
    ByteBuffer out(earlier.data(), earlier.size());
    Outcome result;
    StreamDecoder decoder(watcher);
    DecoderTesting::setPath(decoder, path);
    try {
        result.consumed = raw ? (decoder.decodeAppend(stream.data(), stream.size(), out), decoder.bytesConsumed)
                              : zlibDecompressAppend(stream.data(), stream.size(), out, decoder);
    } catch (const DecodeError& e) {
        result.error = e.what();
    }
    result.bytes.assign(out.begin(), out.end());
    return result;
}
inline Outcome inflateZlib(const Bytes& stream, DecodePath path) { return inflateAppend({}, stream, path); }

// Checks a raw stream. A decode that did not run out of data read nothing past
// where it stopped, so bytes appended to the span change nothing; they also
// give the fast path enough input to work on short hand-made streams.
inline void expectRaw(const Bytes& stream, DecodePath path, const Outcome& expected) {
    EXPECT_EQ(inflateAppend({}, stream, path, nullptr, true), expected);
    if (expected.error == UNEXPECTED_END) return;
    for (int fill : {0x00, 0xFF})
        EXPECT_EQ(inflateAppend({}, stream + Bytes(64, static_cast<uint8_t>(fill)), path, nullptr, true), expected)
            << "with 64 bytes " << fill;
}

using StreamCase = std::tuple<std::string, Bytes, Outcome>;  // name, stream, expected outcome

// A case that decodes to `output` and uses its stream to the last byte.
template <class Output>
StreamCase whole(std::string name, Bytes stream, const Output& output) {
    const size_t size = stream.size();
    return {std::move(name), std::move(stream), ok(output, size)};
}

inline Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Words from a small vocabulary: many short and medium matches.
inline Bytes textLike(size_t size, uint32_t seed) {
    static const std::string WORDS[] = {"the ",     "tessel ",  "block ", "header ", "stream ", "of ",    "a ",
                                        "Korvane ", "decodes ", "PNG ",   "image, ", "and\n",   "bytes. "};
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < size) out += WORDS[rng() % std::size(WORDS)];
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
}

// Lengths of a random complete prefix code of `used` of `count` symbols: the
// leaves of a random tree no deeper than 15 (a lone code has one bit).
inline std::vector<int32_t> randomCode(size_t count, size_t used, std::mt19937& random) {
    std::vector<int32_t> lengths = {0};
    while (lengths.size() < used) {
        const size_t pick = random() % lengths.size();
        if (lengths[pick] < 15) lengths.push_back(++lengths[pick]);
    }
    if (lengths.size() == 1) lengths[0] = 1;
    lengths.resize(count, 0);
    std::shuffle(lengths.begin(), lengths.end(), random);
    return lengths;
}

// Value-parameterised suites run on every decode path, which must agree.
using PathTest = ::testing::TestWithParam<DecodePath>;
inline const DecodePath ALL_PATHS[] = {DecodePath::Fast, DecodePath::FastPortable, DecodePath::Reference};
inline std::string pathName(const ::testing::TestParamInfo<DecodePath>& info) {
    return std::string(info.param == DecodePath::Reference ? "Reference" : "Fast") +
           (info.param == DecodePath::FastPortable ? "Portable" : "");
}
#define KORVANE_ALL_PATHS(Suite) INSTANTIATE_TEST_SUITE_P(Paths, Suite, ::testing::ValuesIn(ALL_PATHS), pathName)

}  // namespace korvane::test
