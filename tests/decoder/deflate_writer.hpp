#pragma once

// Test-only writer for hand-made DEFLATE streams. It knows the bit order of the
// format and nothing about the decoder: numbers (header fields, extra bits) go
// out least significant bit first, prefix codes most significant bit first.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace deflate_writer {

using Bytes = std::vector<uint8_t>;

class BitWriter {
public:
    // A number of `count` bits, least significant bit first.
    BitWriter& bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) put((value >> i) & 1U);
        return *this;
    }
    // A prefix code of `length` bits, most significant bit first.
    BitWriter& code(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) put((value >> i) & 1U);
        return *this;
    }
    // Bits in arrival order, as a string of '0' and '1' (spaces group codes).
    BitWriter& arrival(const std::string& bitString) {
        for (char c : bitString)
            if (c != ' ') put(c == '1' ? 1U : 0U);
        return *this;
    }
    // Fills the current byte with zero bits.
    BitWriter& align() {
        while (bitCount_ % 8 != 0) put(0);
        return *this;
    }
    BitWriter& bytes(const Bytes& data) {
        align();
        for (uint8_t b : data) bits(b, 8);
        return *this;
    }
    BitWriter& blockHeader(bool final, int type) {
        return bits(final ? 1U : 0U, 1).bits(static_cast<uint32_t>(type), 2);
    }

    // Stored block: header, padding to the byte, LEN, NLEN, payload.
    BitWriter& storedBlock(bool final, const Bytes& payload) {
        const auto len = static_cast<uint32_t>(payload.size());
        blockHeader(final, 0).align();
        bits(len, 16).bits(~len & 0xFFFFU, 16);
        return bytes(payload);
    }

    [[nodiscard]] size_t bitCount() const { return bitCount_; }
    // The bytes written so far; a partial last byte is padded with zeros.
    [[nodiscard]] const Bytes& data() const { return data_; }

private:
    void put(uint32_t bit) {
        if (bitCount_ % 8 == 0) data_.push_back(0);
        data_.back() = static_cast<uint8_t>(data_.back() | (bit << (bitCount_ % 8)));
        ++bitCount_;
    }
    Bytes data_;
    size_t bitCount_ = 0;
};

// A canonical prefix code (RFC 1951, 3.2.2) for a list of code lengths.
struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;

    explicit Code(std::vector<int> codeLengths) : lengths(std::move(codeLengths)), codes(lengths.size()) {
        int maxLength = 0;
        for (int l : lengths) maxLength = l > maxLength ? l : maxLength;
        std::vector<uint32_t> count(static_cast<size_t>(maxLength) + 1);
        for (int l : lengths)
            if (l > 0) ++count[static_cast<size_t>(l)];
        std::vector<uint32_t> next(count.size());
        uint32_t c = 0;
        for (size_t l = 1; l < count.size(); ++l) next[l] = c = (c + count[l - 1]) << 1;
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] > 0) codes[s] = next[static_cast<size_t>(lengths[s])]++;
    }
    void write(BitWriter& w, int symbol) const {
        const auto s = static_cast<size_t>(symbol);
        if (lengths.at(s) == 0) throw std::logic_error("symbol has no code");
        w.code(codes[s], lengths[s]);
    }
};

inline std::vector<int> fixedLiteralLengths() {
    std::vector<int> l(288);
    for (size_t s = 0; s < l.size(); ++s) l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return l;
}
inline const Code& fixedLiteralCode() {
    static const Code code(fixedLiteralLengths());
    return code;
}
inline const Code& fixedDistanceCode() {
    static const Code code(std::vector<int>(32, 5));
    return code;
}

// RFC 1951, 3.2.5, derived from its pattern: after the first 8 length symbols
// and the first 4 distance symbols, each extra-bit count serves 4 (lengths) or
// 2 (distances) symbols and every base follows the range of the one before.
inline int lengthExtra(int symbol) { return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4; }
inline int lengthBase(int symbol) {
    if (symbol == 285) return 258;
    int base = 3;
    for (int s = 257; s < symbol; ++s) base += 1 << lengthExtra(s);
    return base;
}
inline int distanceExtra(int symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }
inline int distanceBase(int symbol) {
    int base = 1;
    for (int s = 0; s < symbol; ++s) base += 1 << distanceExtra(s);
    return base;
}

// Writes the symbols of a Huffman-coded block body with the given codes.
struct BlockBody {
    BitWriter& w;
    const Code& literals;
    const Code& distances;

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
        int l = length == 258 ? 285 : 284;
        while (lengthBase(l) > length) --l;
        int d = 29;
        while (distanceBase(d) > distance) --d;
        return lengthCode(l, static_cast<uint32_t>(length - lengthBase(l)))
            .distanceCode(d, static_cast<uint32_t>(distance - distanceBase(d)));
    }
    BlockBody& end() { return literal(256); }
};

inline BlockBody fixedBlock(BitWriter& w, bool final) {
    w.blockHeader(final, 1);
    return {w, fixedLiteralCode(), fixedDistanceCode()};
}

// A code-length symbol (0..18) and the value of its extra bits.
struct LengthOp {
    int symbol;
    uint32_t extra = 0;
};

inline constexpr int CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header from explicit parts: the counts, the lengths of the
// code-length code (indexed by symbol, the first `hclen` sent in transmission
// order) and the code-length symbols as they are to appear.
inline void dynamicHeader(BitWriter& w, bool final, int hlit, int hdist, int hclen,
                          const std::vector<int>& codeLengthLengths, const std::vector<LengthOp>& ops) {
    w.blockHeader(final, 2);
    w.bits(static_cast<uint32_t>(hlit - 257), 5).bits(static_cast<uint32_t>(hdist - 1), 5);
    w.bits(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i)
        w.bits(static_cast<uint32_t>(codeLengthLengths.at(static_cast<size_t>(CODE_LENGTH_ORDER[i]))), 3);
    const Code clc(codeLengthLengths);
    for (const LengthOp& op : ops) {
        clc.write(w, op.symbol);
        if (op.symbol >= 16) w.bits(op.extra, op.symbol == 16 ? 2 : op.symbol == 17 ? 3 : 7);
    }
}

// A dynamic block header that sends every length plainly with a 4-bit code for
// each of the code-length symbols 0..15.
inline void dynamicHeader(BitWriter& w, bool final, const std::vector<int>& literalLengths,
                          const std::vector<int>& distanceLengths) {
    std::vector<int> clLengths(19, 4);
    clLengths[16] = clLengths[17] = clLengths[18] = 0;
    std::vector<LengthOp> ops;
    ops.reserve(literalLengths.size() + distanceLengths.size());
    for (int l : literalLengths) ops.push_back({l});
    for (int l : distanceLengths) ops.push_back({l});
    dynamicHeader(w, final, static_cast<int>(literalLengths.size()), static_cast<int>(distanceLengths.size()), 19,
                  clLengths, ops);
}

// The lengths of a literal/length alphabet in which only the listed symbols have codes.
inline std::vector<int> lengthsFor(size_t count, std::initializer_list<std::pair<int, int>> symbolLengths) {
    std::vector<int> lengths(count, 0);
    for (auto [symbol, length] : symbolLengths) lengths.at(static_cast<size_t>(symbol)) = length;
    return lengths;
}

}  // namespace deflate_writer
