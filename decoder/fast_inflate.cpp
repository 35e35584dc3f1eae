#include "fast_inflate.hpp"

#include <bit>
#include <cstring>

#include "deflate_tables.hpp"

namespace korvane {

namespace {

uint64_t loadWord(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i) swapped = swapped << 8 | ((word >> (8 * i)) & 0xFF);
        word = swapped;
    }
    return word;
}

// Input bits held in a 64-bit buffer, low bits first. After refill() at least
// 56 bits are valid, enough for a whole length/distance pair (at most 48 bits).
// Bits above `count` are either zero or the true next input bits, which is
// what lets refill() OR a whole word in without masking.
class BitBuffer {
public:
    explicit BitBuffer(const BitReader& reader)
        : begin_(reader.data), in_(reader.data + reader.bytePos), end_(reader.data + reader.size) {}

    // True while a whole word can still be loaded inside the span.
    [[nodiscard]] bool canRefill() const { return end_ - in_ >= 8; }

    void refill() {
        buffer_ |= loadWord(in_) << count_;
        in_ += (63 - count_) >> 3;
        count_ |= 56;
    }

    [[nodiscard]] uint64_t peek() const { return buffer_; }
    void consume(uint32_t bits) {
        buffer_ >>= bits;
        count_ -= bits;
    }
    uint32_t take(uint32_t bits) {
        const auto value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << bits) - 1));
        consume(bits);
        return value;
    }
    [[nodiscard]] uint32_t count() const { return count_; }

    // Writes the exact bit position back to the reader.
    void store(BitReader& reader) const {
        const uint64_t position = static_cast<uint64_t>(in_ - begin_) * 8 - count_;
        reader.bytePos = position >> 3;
        reader.bitPos = static_cast<int32_t>(position & 7);
    }

private:
    const uint8_t* begin_;
    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
};

// Starts a BitBuffer at the reader's exact bit; needs canRefill().
BitBuffer startAt(const BitReader& reader) {
    BitBuffer bits(reader);
    bits.refill();
    bits.consume(static_cast<uint32_t>(reader.bitPos));
    return bits;
}

// Output room the loop needs before each step: a longest copy with the
// overrun of its word stores, or a few literals.
constexpr size_t OUTPUT_SLACK = 258 + 16;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVANE_HAS_BMI2_VARIANT
#endif

// The low `count` bits of `value`, count < 64; one BZHI instruction where
// the loop is compiled for BMI2.
template <bool Bmi2>
[[gnu::always_inline]] inline uint64_t lowBits(uint64_t value, uint32_t count) {
#ifdef KORVANE_HAS_BMI2_VARIANT
    if constexpr (Bmi2) {
        // Only reached from the BMI2 variant of the loop.
        uint64_t result;
        asm("bzhi %2, %1, %0" : "=r"(result) : "r"(value), "r"(uint64_t{count}));
        return result;
    }
#endif
    return value & ((uint64_t{1} << count) - 1);
}

// The extra bits of a BASE entry whose code starts at bit 0 of `bits`: they
// are the last extra(entry) of its bits(entry) bits.
template <bool Bmi2>
[[gnu::always_inline]] inline uint64_t extraValue(uint64_t bits, uint32_t entry) {
    const uint32_t extra = FastEntry::extra(entry);
    return lowBits<Bmi2>(bits >> (FastEntry::bits(entry) - extra), extra);
}

void copy16(uint8_t* to, const uint8_t* from) {
    uint8_t chunk[16];
    std::memcpy(chunk, from, sizeof chunk);
    std::memcpy(to, chunk, sizeof chunk);
}

void copy8(uint8_t* to, const uint8_t* from) {
    uint64_t word;
    std::memcpy(&word, from, sizeof word);
    std::memcpy(to, &word, sizeof word);
}

// Copies `length` bytes from `distance` back. May write up to 15 bytes past
// the end of the copy; the caller guarantees the room, and those bytes are
// overwritten by whatever comes next.
[[gnu::always_inline]] inline uint8_t* copyMatch(uint8_t* to, size_t length, size_t distance) {
    const uint8_t* from = to - distance;
    uint8_t* const stop = to + length;
    if (distance >= 16) {
        do {
            copy16(to, from);
            to += 16;
            from += 16;
        } while (to < stop);
    } else if (distance >= 8) {
        // Each 8-byte load reads only bytes before its own store, so overlap
        // with earlier stores of this copy gives the repeated pattern.
        do {
            copy8(to, from);
            to += 8;
            from += 8;
        } while (to < stop);
    } else if (distance == 1) {
        const uint64_t pattern = uint64_t{0x0101010101010101} * *from;
        do {
            std::memcpy(to, &pattern, sizeof pattern);
            std::memcpy(to + 8, &pattern, sizeof pattern);
            to += 16;
        } while (to < stop);
    } else if (length < 16) {
        do *to++ = *from++;
        while (to < stop);
    } else {
        // A period of 2 to 7 bytes: lay it out once, then store 8 bytes at a
        // time from the right phase of it.
        uint8_t pattern[15];
        for (size_t i = 0, j = 0; i < sizeof pattern; ++i) {
            pattern[i] = from[j];
            if (++j == distance) j = 0;
        }
        const size_t advance = 8 % distance;
        size_t phase = 0;
        do {
            std::memcpy(to, pattern + phase, 8);
            to += 8;
            phase += advance;
            if (phase >= distance) phase -= distance;
        } while (to < stop);
    }
    return stop;
}

}  // namespace

namespace {

// The symbol loop; instantiated once per instruction set it is compiled for.
template <bool Bmi2>
[[gnu::always_inline]] inline FastResult decodeBlockLoop(BitReader& reader, ByteBuffer& out, size_t streamStart,
                                                         const FastLiteralCode& literalCode,
                                                         const FastDistanceCode& distanceCode) {
    if (reader.size - reader.bytePos < 8) return FastResult::HandOver;

    // Everything the loop touches lives in locals so that it stays in registers.
    const uint8_t* const inBegin = reader.data;
    const uint8_t* const inLast = reader.data + reader.size - 8;  // last place a word can be loaded from
    const uint8_t* in = reader.data + reader.bytePos;
    uint64_t buffer = 0;
    uint32_t count = 0;  // valid bits in `buffer`; bits above them are zero or the true next bits
    auto refill = [&] {
        buffer |= loadWord(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
    };
    auto consume = [&](uint32_t bits) {
        buffer >>= bits;
        count -= bits;
    };
    refill();
    consume(static_cast<uint32_t>(reader.bitPos));

    out.reserveExtra(OUTPUT_SLACK);
    uint8_t* to = out.data() + out.size();
    const uint8_t* streamBegin = out.data() + streamStart;
    uint8_t* roomLimit = out.data() + out.capacity() - OUTPUT_SLACK;
    FastResult result = FastResult::HandOver;

    // Loop invariant: at least 56 bits are valid and `entry` is the primary
    // literal/length entry for them, looked up but not consumed. A lookup stays
    // valid across a refill, which only adds bits above the valid ones, as
    // long as 15 bits were valid when it was made.
    uint32_t entry = literalCode.primary(buffer);
    for (bool roomRanOut = false;; roomRanOut = false) {
        if (roomRanOut || to > roomLimit) {
            // Out of line from the symbol loop, which makes no calls and so
            // can keep all its state in registers.
            const size_t size = static_cast<size_t>(to - out.data());
            out.resizeUninitialized(size);
            out.reserveExtra(OUTPUT_SLACK);
            to = out.data() + size;
            streamBegin = out.data() + streamStart;
            roomLimit = out.data() + out.capacity() - OUTPUT_SLACK;
        }
        while (!roomRanOut) {
            // The refill at the end of this step must stay inside the span.
            if (in > inLast) goto done;
            if (to > roomLimit) {
                roomRanOut = true;
                break;
            }
            if (FastEntry::isLiteral(entry)) {
                // Two literals per refill: each code is at most 15 bits.
                *to++ = static_cast<uint8_t>(FastEntry::literalByte(entry));
                consume(FastEntry::bits(entry));
                entry = literalCode.primary(buffer);
                if (FastEntry::isLiteral(entry)) {
                    *to++ = static_cast<uint8_t>(FastEntry::literalByte(entry));
                    consume(FastEntry::bits(entry));
                    entry = literalCode.primary(buffer);
                }
                refill();
                continue;
            }
            if (FastEntry::isExceptional(entry)) {
                if (FastEntry::exceptionalKind(entry) == FastEntry::SUBTABLE)
                    entry = literalCode.secondary(entry, buffer);
                if (FastEntry::isLiteral(entry)) {
                    *to++ = static_cast<uint8_t>(FastEntry::literalByte(entry));
                    consume(FastEntry::bits(entry));
                    refill();
                    entry = literalCode.primary(buffer);
                    continue;
                }
                if (FastEntry::isExceptional(entry)) {
                    if (FastEntry::exceptionalKind(entry) == FastEntry::END_BLOCK) {
                        consume(FastEntry::bits(entry));
                        result = FastResult::EndOfBlock;
                    }
                    goto done;  // end of block, or a code the literal decoder must judge
                }
            }

            // A length, then its distance, read from copies of the buffer: nothing
            // is consumed until the whole pair is known to be valid. Each entry's
            // bit count covers its extra bits, so the next code is one shift away.
            const uint64_t afterLength = buffer >> FastEntry::bits(entry);
            uint32_t distEntry = distanceCode.primary(afterLength);
            if (FastEntry::isExceptional(distEntry)) {
                if (FastEntry::exceptionalKind(distEntry) != FastEntry::SUBTABLE) goto done;
                distEntry = distanceCode.secondary(distEntry, afterLength);
                if (FastEntry::isExceptional(distEntry)) goto done;
            }
            // Most lengths come whole from the table; only long codes with
            // many extra bits need them read apart.
            size_t length = FastEntry::baseValue(entry);
            if (FastEntry::extra(entry) != 0) length += extraValue<Bmi2>(buffer, entry);
            const size_t distance = FastEntry::baseValue(distEntry) + extraValue<Bmi2>(afterLength, distEntry);
            if (distance > static_cast<size_t>(to - streamBegin)) goto done;
            count -= FastEntry::bits(entry) + FastEntry::bits(distEntry);
            buffer = afterLength >> FastEntry::bits(distEntry);
            // Looking the next code up before the refill, from the bits the pair
            // left (nearly always enough), keeps the refill off the path from
            // one symbol to the next.
            if (count >= 15) [[likely]] {
                entry = literalCode.primary(buffer);
                refill();
            } else {
                refill();
                entry = literalCode.primary(buffer);
            }
            to = copyMatch(to, length, distance);
        }
    }

done:
    out.resizeUninitialized(static_cast<size_t>(to - out.data()));
    const uint64_t position = static_cast<uint64_t>(in - inBegin) * 8 - count;
    reader.bytePos = position >> 3;
    reader.bitPos = static_cast<int32_t>(position & 7);
    return result;
}

FastResult decodeBlockGeneric(BitReader& reader, ByteBuffer& out, size_t streamStart,
                              const FastLiteralCode& literalCode, const FastDistanceCode& distanceCode) {
    return decodeBlockLoop<false>(reader, out, streamStart, literalCode, distanceCode);
}

#ifdef KORVANE_HAS_BMI2_VARIANT
// The same loop with BMI2's flag-free shifts and bit extraction, picked at run
// time on CPUs that have them.
__attribute__((target("bmi2"))) FastResult decodeBlockBmi2(BitReader& reader, ByteBuffer& out, size_t streamStart,
                                                           const FastLiteralCode& literalCode,
                                                           const FastDistanceCode& distanceCode) {
    return decodeBlockLoop<true>(reader, out, streamStart, literalCode, distanceCode);
}
#endif

}  // namespace

FastResult decodeBlockFast(BitReader& reader, ByteBuffer& out, size_t streamStart, const FastLiteralCode& literalCode,
                           const FastDistanceCode& distanceCode, bool portable) {
#ifdef KORVANE_HAS_BMI2_VARIANT
    static const bool hasBmi2 = __builtin_cpu_supports("bmi2");
    if (hasBmi2 && !portable) return decodeBlockBmi2(reader, out, streamStart, literalCode, distanceCode);
#endif
    return decodeBlockGeneric(reader, out, streamStart, literalCode, distanceCode);
}

bool readDynamicLengthsFast(BitReader& reader, DynamicLengths& result, FastCodeLengthCode& codeLengthCode) {
    BitBuffer bits(reader);
    if (!bits.canRefill()) return false;
    bits = startAt(reader);

    const uint32_t hlit = bits.take(5) + 257;
    const uint32_t hdist = bits.take(5) + 1;
    const uint32_t hclen = bits.take(4) + 4;
    std::array<int32_t, CODE_LENGTH_ORDER.size()> codeLengthLengths{};
    for (uint32_t i = 0; i < hclen; ++i) {
        if (bits.count() < 3) {
            if (!bits.canRefill()) return false;
            bits.refill();
        }
        codeLengthLengths[static_cast<size_t>(CODE_LENGTH_ORDER[i])] = static_cast<int32_t>(bits.take(3));
    }
    if (!codeLengthCode.build(codeLengthLengths)) return false;

    const size_t total = hlit + hdist;
    result.count = 0;
    while (result.count < total) {
        // A symbol and its extra bits take at most 7 + 7 bits. Refilling only
        // when fewer remain keeps the refill off the path from one symbol to
        // the next most of the time.
        if (bits.count() < 14) {
            if (!bits.canRefill()) return false;
            bits.refill();
        }
        const uint32_t entry = codeLengthCode.lookup(bits.peek());
        if (!FastEntry::isLiteral(entry)) return false;
        bits.consume(FastEntry::bits(entry));
        const auto symbol = static_cast<int32_t>(FastEntry::literalByte(entry));
        if (symbol < 16) {
            result.lengths[result.count++] = symbol;
        } else if (symbol == 16) {
            result.append(result.count == 0 ? 0 : result.lengths[result.count - 1], bits.take(2) + 3);
        } else if (symbol == 17) {
            result.append(0, bits.take(3) + 3);
        } else {
            result.append(0, bits.take(7) + 11);
        }
    }
    result.count = total;
    result.litLenCount = static_cast<int32_t>(hlit);
    result.distCount = static_cast<int32_t>(hdist);
    bits.store(reader);
    return true;
}

namespace {
template <class Code>
Code builtFrom(std::span<const int32_t> lengths) {
    Code code;
    code.build(lengths);
    return code;
}
}  // namespace

const FastLiteralCode& fixedLiteralCode() {
    static const auto code = builtFrom<FastLiteralCode>(fixedLiteralLengths());
    return code;
}

const FastDistanceCode& fixedDistanceCode() {
    static const auto code = builtFrom<FastDistanceCode>(fixedDistanceLengths());
    return code;
}

}  // namespace korvane
