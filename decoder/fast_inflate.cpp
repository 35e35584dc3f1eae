#include "fast_inflate.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#if __has_include(<sys/platform/x86.h>) && !defined(__clang__)  // a C header clang++ rejects
#include <sys/platform/x86.h>
#endif
#endif

#include "deflate_tables.hpp"
#include "huffman_table.hpp"

namespace korvane {

namespace {

thread_local FastLoopCounts fastLoopCounts;

// What one length/distance pair can take from the input at most: two codes
// and both extra-bit fields.
constexpr auto MAX_LENGTH_EXTRA_BITS = static_cast<uint32_t>(MAX_LENGTH_EXTRA);
constexpr auto MAX_DISTANCE_EXTRA_BITS = static_cast<uint32_t>(MAX_DIST_EXTRA);
constexpr uint32_t MAX_PAIR_BITS = 2 * MAX_CODE_LENGTH + MAX_LENGTH_EXTRA_BITS + MAX_DISTANCE_EXTRA_BITS;

// A dynamic header's code-length symbol (up to 7 bits) with its extra bits (up to 7).
constexpr uint32_t MAX_CODE_LENGTH_STEP_BITS = 7 + 7;

// Bits of a literal/length code the primary table resolves; a lookup needs
// that many input bits under the cursor.
constexpr uint32_t LOOKUP_BITS = FastLiteralCode::PRIMARY_BITS;

// Assembles a little-endian word from bytes; compilers turn this into one
// load on little-endian machines, and the code is the same on any other.
uint64_t loadWord(const uint8_t* p) {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word |= uint64_t{p[i]} << (8 * i);
    return word;
}

// Input bits in a 64-bit word, the next one at bit 0. Words are loaded whole
// and never from beyond the span.
//
// Two counts describe the word. Loaded bits are real input bits: right after
// refill() all WORD_BITS are, and consuming n bits leaves WORD_BITS - n
// (zeros shift in from the top). Consumable bits, count(), are the loaded bits
// whose bytes lie wholly before the load position: refill() makes at least
// REFILLED_BITS of them. Loaded bits above the count belong to the byte at the
// load position, which the next refill() ORs in again at the same place, so
// no masking is needed. A caller may consume at most count() bits, and look at
// no more bits than are loaded.
class BitBuffer {
public:
    static constexpr uint32_t WORD_BYTES = 8;
    static constexpr uint32_t WORD_BITS = 8 * WORD_BYTES;
    // A refill counts whole bytes while a whole byte of room is left.
    static constexpr uint32_t REFILLED_BITS = WORD_BITS - 8;
    static_assert(REFILLED_BITS % 8 == 0, "refill() computes the new count as count | REFILLED_BITS");
    // The constructor loads two words, the second one starting inside the first.
    static constexpr uint32_t START_BYTES = 2 * WORD_BYTES - 1;

    [[nodiscard]] static bool canStart(const BitReader& reader) { return reader.size - reader.bytePos >= START_BYTES; }

    // Starts at the reader's exact bit with every bit loaded; needs canStart().
    [[gnu::always_inline]] explicit BitBuffer(const BitReader& reader)
        : in_(reader.data + reader.bytePos), last_(reader.data + reader.size - WORD_BYTES) {
        refill();
        consume(static_cast<uint32_t>(reader.bitPos));
        refill();  // the bits skipped at the start are loaded again
    }

    // True while a refill stays inside the span.
    [[gnu::always_inline]] [[nodiscard]] bool canRefill() const { return in_ <= last_; }

    [[gnu::always_inline]] void refill() {
        buffer_ |= loadWord(in_) << count_;
        in_ += (WORD_BITS - 1 - count_) / 8;
        count_ |= REFILLED_BITS;
    }

    [[gnu::always_inline]] [[nodiscard]] uint64_t peek() const { return buffer_; }
    [[gnu::always_inline]] [[nodiscard]] uint32_t count() const { return count_; }
    [[gnu::always_inline]] void consume(uint32_t bits) {
        buffer_ >>= bits;
        count_ -= bits;
    }
    uint32_t take(uint32_t bits) {
        const auto value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << bits) - 1));
        consume(bits);
        return value;
    }

    // Writes the exact bit position back to the reader it started from.
    [[gnu::always_inline]] void store(BitReader& reader) const {
        const uint64_t position = static_cast<uint64_t>(in_ - reader.data) * 8 - count_;
        reader.bytePos = position >> 3;
        reader.bitPos = static_cast<int32_t>(position & 7);
    }

private:
    const uint8_t* in_;
    const uint8_t* last_;  // last place a word can be loaded from
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
};

// The symbol loop's budget. Each step starts right after a refill and decodes
// either up to LITERALS_PER_STEP literals or one length/distance pair, then
// looks up the next code before refilling, which keeps the refill off the
// path from one symbol to the next.
constexpr uint32_t LITERALS_PER_STEP = 2;
static_assert(MAX_PAIR_BITS <= BitBuffer::REFILLED_BITS, "a whole pair is consumable after a refill");
static_assert(BitBuffer::WORD_BITS - MAX_PAIR_BITS >= LOOKUP_BITS, "the code after a pair is loaded");
static_assert(MAX_CODE_LENGTH <= BitBuffer::REFILLED_BITS, "a subtable lookup after a refill is loaded");
static_assert(LITERALS_PER_STEP * LOOKUP_BITS <= BitBuffer::REFILLED_BITS, "literals come from the primary table");
static_assert(BitBuffer::WORD_BITS - LITERALS_PER_STEP * LOOKUP_BITS >= LOOKUP_BITS, "the code after them is loaded");
static_assert(MAX_CODE_LENGTH_STEP_BITS <= BitBuffer::REFILLED_BITS);

// Copies store whole words and chunks, so the last store may run past the
// copy's end.
constexpr size_t WORD = 8;
constexpr size_t CHUNK = 2 * WORD;
constexpr size_t MAX_MATCH_LENGTH = 258;
// Copies from at least this far back start with one such piece, loaded whole
// before any of it is stored, whatever their length: most copies are that
// short, and then no branch depends on the length.
constexpr size_t FIRST_PIECE = 2 * CHUNK;
// Output room one step may write into: a longest copy, and a last chunk
// started just before its end. A shorter copy's first piece, or a short
// period's first two words, fit in it too.
constexpr size_t STEP_ROOM = MAX_MATCH_LENGTH + CHUNK - 1;
static_assert(FIRST_PIECE <= STEP_ROOM && 2 * WORD <= STEP_ROOM);
static_assert(LITERALS_PER_STEP <= STEP_ROOM);

template <size_t SIZE>
void copyBytes(uint8_t* to, const uint8_t* from) {
    uint8_t bytes[SIZE];
    std::memcpy(bytes, from, SIZE);
    std::memcpy(to, bytes, SIZE);
}

// Stores the low byte of `word` first, on any machine.
void storeWord(uint8_t* to, uint64_t word) {
    uint8_t bytes[WORD];
    for (size_t i = 0; i < WORD; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
    std::memcpy(to, bytes, WORD);
}

// For each period under a word: the multiplier that repeats a period's bytes
// across a word, and the whole number of periods a word holds, in bytes.
struct ShortPeriod {
    uint64_t repeat;
    size_t step;
};
constexpr auto SHORT_PERIODS = [] {
    std::array<ShortPeriod, WORD> periods{};
    for (size_t period = 1; period < WORD; ++period) {
        for (size_t at = 0; at < WORD; at += period) periods[period].repeat |= uint64_t{1} << (8 * at);
        periods[period].step = WORD - WORD % period;
    }
    return periods;
}();

// Copies `length` bytes from `distance` back and returns the new end. May
// write past it, up to STEP_ROOM bytes in all: the caller guarantees the
// room, and whatever comes next overwrites them. A piece is loaded only from
// bytes written before it, so copies that overlap their own output repeat
// the pattern.
[[gnu::always_inline]] inline uint8_t* copyMatch(uint8_t* to, size_t length, size_t distance,
                                                 const uint8_t* historyBegin) {
    const uint8_t* from = to - distance;
    uint8_t* const stop = to + length;
    if (distance >= FIRST_PIECE) {
        copyBytes<FIRST_PIECE>(to, from);
        for (to += FIRST_PIECE, from += FIRST_PIECE; to < stop; to += CHUNK, from += CHUNK) copyBytes<CHUNK>(to, from);
    } else if (distance >= CHUNK) {
        do {
            copyBytes<CHUNK>(to, from);
            to += CHUNK;
            from += CHUNK;
        } while (to < stop);
    } else if (distance >= WORD) {
        do {
            copyBytes<WORD>(to, from);
            to += WORD;
            from += WORD;
        } while (to < stop);
    } else {
        // A period shorter than a word: a word of it, stored every whole
        // number of periods that fits in a word, with no load in between.
        // The period is the end of the last word written, or, in a stream's
        // first word, its bytes one by one.
        uint64_t period = 0;
        if (to - historyBegin >= static_cast<ptrdiff_t>(WORD)) {
            period = loadWord(to - WORD) >> (8 * (WORD - distance));
        } else {
            for (size_t i = 0; i < distance; ++i) period |= uint64_t{from[i]} << (8 * i);
        }
        const uint64_t pattern = period * SHORT_PERIODS[distance].repeat;
        const size_t step = SHORT_PERIODS[distance].step;
        storeWord(to, pattern);
        storeWord(to + step, pattern);
        for (to += 2 * step; to < stop; to += step) storeWord(to, pattern);
    }
    return stop;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVANE_HAS_BMI2_VARIANT
#endif

// glibc has read the CPU's features at start-up; asking the CPU again (as
// __builtin_cpu_supports does, in a constructor of its own) costs a trip to
// the hypervisor per query on a virtual machine, a noticeable part of a run
// on a small file.
#if !defined(KORVANE_HAS_BMI2_VARIANT)
constexpr bool cpuHasBmi2() { return false; }
#elif __has_include(<sys/platform/x86.h>) && !defined(__clang__)
bool cpuHasBmi2() { return CPU_FEATURE_ACTIVE(BMI2); }
#else
bool cpuHasBmi2() { return __builtin_cpu_supports("bmi2"); }
#endif

// The low `count` bits of `value`, count < 64. The symbol loop is compiled
// once per instruction set; Bmi2 says which.
template <bool Bmi2>
inline uint64_t lowBits(uint64_t value, uint32_t count) {
    return value & ((uint64_t{1} << count) - 1);
}

#ifdef KORVANE_HAS_BMI2_VARIANT
// One instruction. Not forced inline: the compiler may inline it only into
// code compiled for BMI2, which is where the BMI2 loop ends up.
template <>
__attribute__((target("bmi2"))) inline uint64_t lowBits<true>(uint64_t value, uint32_t count) {
    return _bzhi_u64(value, count);
}
#endif

// The extra bits of a BASE entry whose code starts at bit 0 of `bits`: the
// last extra(entry) of its bits(entry) bits.
template <bool Bmi2>
[[gnu::always_inline]] inline uint64_t extraValue(uint64_t bits, uint32_t entry) {
    const uint32_t extra = FastEntry::extra(entry);
    return lowBits<Bmi2>(bits >> (FastEntry::bits(entry) - extra), extra);
}

// Where the symbol loop writes, refreshed whenever the output buffer moves.
struct OutputWindow {
    uint8_t* to;                  // next byte to write
    const uint8_t* historyBegin;  // the stream's first byte: copies reach no further back
    const uint8_t* roomEnd;       // a step may start at or before this and stay inside the buffer

    OutputWindow(ByteBuffer& out, size_t streamStart)
        : to(out.data() + out.size()),
          historyBegin(out.data() + streamStart),
          roomEnd(out.data() + out.capacity() - STEP_ROOM) {}
};

enum class Stop { Continue, EndOfBlock, HandOver, OutOfRoom };

// One stream in the symbol loop: its input bits, where it writes, its codes,
// and `entry`, the primary entry for the code at its cursor (looked up, not
// consumed). Streams are independent, so the loop may carry two lanes: while
// both are on plain literals it steps them together, and a CPU then runs the
// two chains of table loads, each a load whose address depends on the last,
// side by side. Anything else (copies, subtable codes, block ends) one lane
// handles on its own.
template <bool Bmi2>
struct Lane {
    BitBuffer bits;
    OutputWindow window;
    const FastLiteralCode& literalCode;
    const FastDistanceCode& distanceCode;
    uint32_t entry;

    [[gnu::always_inline]] static Lane start(const FastLane& lane) {
        BitBuffer bits(*lane.reader);
        const uint32_t entry = lane.literalCode->primary(bits.peek());
        return {bits, OutputWindow(*lane.out, lane.streamStart), *lane.literalCode, *lane.distanceCode, entry};
    }

    [[gnu::always_inline]] [[nodiscard]] bool canStep() const {
        return bits.canRefill() && window.to <= window.roomEnd;
    }

    [[gnu::always_inline]] void putLiteral() {
        *window.to++ = static_cast<uint8_t>(FastEntry::literalByte(entry));
        bits.consume(FastEntry::bits(entry));
        entry = literalCode.primary(bits.peek());
    }

    // Decodes one symbol that is not a plain literal, and refills.
    [[gnu::always_inline]] Stop step() {
        if (FastEntry::isExceptional(entry)) {
            if (FastEntry::exceptionalKind(entry) == FastEntry::SUBTABLE)
                entry = literalCode.secondary(entry, bits.peek());
            if (FastEntry::isLiteral(entry)) {
                putLiteral();
                bits.refill();
                return Stop::Continue;
            }
            if (FastEntry::isExceptional(entry)) {
                if (FastEntry::exceptionalKind(entry) != FastEntry::END_BLOCK) return Stop::HandOver;
                bits.consume(FastEntry::bits(entry));  // the reader stands after the block
                return Stop::EndOfBlock;
            }
        }

        // A length, then its distance, read from copies of the buffer: nothing
        // is consumed until the whole pair is known to be valid. Each entry's
        // bit count covers its extra bits, so the next code is one shift away.
        const uint64_t afterLength = bits.peek() >> FastEntry::bits(entry);
        uint32_t distanceEntry = distanceCode.primary(afterLength);
        if (FastEntry::isExceptional(distanceEntry)) {
            if (FastEntry::exceptionalKind(distanceEntry) != FastEntry::SUBTABLE) return Stop::HandOver;
            distanceEntry = distanceCode.secondary(distanceEntry, afterLength);
            if (FastEntry::isExceptional(distanceEntry)) return Stop::HandOver;
        }
        const size_t length = FastEntry::baseValue(entry) + extraValue<Bmi2>(bits.peek(), entry);
        const size_t distance = FastEntry::baseValue(distanceEntry) + extraValue<Bmi2>(afterLength, distanceEntry);
        const uint32_t used = FastEntry::bits(entry) + FastEntry::bits(distanceEntry);
        if (distance > static_cast<size_t>(window.to - window.historyBegin)) return Stop::HandOver;
        bits.consume(used);
        entry = literalCode.primary(bits.peek());
        bits.refill();
        window.to = copyMatch(window.to, length, distance, window.historyBegin);
        fastLoopCounts.copied += length;
        return Stop::Continue;
    }
};

struct LaneStop {
    size_t lane;
    Stop stop;
};

// Calls f(lane, index) on each lane in turn until one returns true, and says
// whether one did. Lanes are named by constant indices, so that the compiler
// keeps their state in registers.
template <bool Bmi2, size_t... I>
[[gnu::always_inline]] inline auto startLanes(std::span<const FastLane, sizeof...(I)> lanes,
                                              std::index_sequence<I...> /*indices*/) {
    return std::array<Lane<Bmi2>, sizeof...(I)>{Lane<Bmi2>::start(lanes[I])...};
}

template <class Lanes, class F, size_t... I>
[[gnu::always_inline]] inline bool anyLaneOf(Lanes& lanes, F& f, std::index_sequence<I...> /*indices*/) {
    return (f(std::get<I>(lanes), I) || ...);
}
template <class Lanes, class F>
[[gnu::always_inline]] inline bool anyLane(Lanes& lanes, F&& f) {
    return anyLaneOf(lanes, f, std::make_index_sequence<std::tuple_size_v<Lanes>>{});
}

// Decodes symbols until a lane's block ends, a code the bit-at-a-time decoder
// must judge comes up, or a lane's input runs short or its output room runs
// out; says which lane stopped and why. With one lane this is the plain loop.
template <bool Bmi2, size_t N>
[[gnu::always_inline]] inline LaneStop decodeSteps(std::array<Lane<Bmi2>, N>& lanes) {
    LaneStop stop{};
    for (;;) {
        if (anyLane(
                lanes, [&stop](auto& lane, size_t i) __attribute__((always_inline)) {
                    if (lane.canStep()) return false;
                    stop = {i, lane.bits.canRefill() ? Stop::OutOfRoom : Stop::HandOver};
                    return true;
                }))
            break;
        // Each lane takes a step: up to LITERALS_PER_STEP literals, or one
        // symbol of another kind.
        if (anyLane(
                lanes, [&stop](auto& lane, size_t i) __attribute__((always_inline)) {
                    if (!FastEntry::isLiteral(lane.entry)) {
                        stop = {i, lane.step()};
                        return stop.stop != Stop::Continue;
                    }
                    uint32_t literals = 0;
                    do {
                        lane.putLiteral();
                    } while (++literals < LITERALS_PER_STEP && FastEntry::isLiteral(lane.entry));
                    lane.bits.refill();
                    if constexpr (N > 1) fastLoopCounts.pairedLiterals += literals;
                    return false;
                }))
            break;
    }
    return stop;
}

// The symbol loop around decodeSteps: grows a lane's output when its room
// runs out, and stops the lane when its buffer cannot grow, so that the
// bit-at-a-time decoder fails at exactly the byte it would fail at anyway.
template <bool Bmi2, size_t N>
[[gnu::always_inline]] inline FastStop decodeLanes(std::span<const FastLane, N> lanes) {
    for (size_t i = 0; i < N; ++i)
        if (!BitBuffer::canStart(*lanes[i].reader) || !lanes[i].out->tryReserveExtra(STEP_ROOM))
            return {i, FastResult::HandOver};
    auto state = startLanes<Bmi2>(lanes, std::make_index_sequence<N>{});
    std::array<size_t, N> startSize{};
    for (size_t i = 0; i < N; ++i) startSize[i] = lanes[i].out->size();

    LaneStop stop = decodeSteps<Bmi2, N>(state);
    while (stop.stop == Stop::OutOfRoom) {
        const bool grown = anyLane(
            state, [&](auto& lane, size_t i) __attribute__((always_inline)) {
                if (i != stop.lane) return false;
                ByteBuffer& out = *lanes[i].out;
                out.resizeUninitialized(static_cast<size_t>(lane.window.to - out.data()));
                if (!out.tryReserveExtra(STEP_ROOM)) return false;
                lane.window = OutputWindow(out, lanes[i].streamStart);
                return true;
            });
        if (!grown) break;
        stop = decodeSteps<Bmi2, N>(state);
    }
    anyLane(
        state, [&lanes, &startSize ](auto& lane, size_t i) __attribute__((always_inline)) {
            ByteBuffer& out = *lanes[i].out;
            out.resizeUninitialized(static_cast<size_t>(lane.window.to - out.data()));
            if (Bmi2 == cpuHasBmi2()) fastLoopCounts.bytes += out.size() - startSize[i];
            lane.bits.store(*lanes[i].reader);
            return false;
        });
    return {stop.lane, stop.stop == Stop::EndOfBlock ? FastResult::EndOfBlock : FastResult::HandOver};
}

// Each lane count gets a function of its own, so that neither loop's
// register allocation is shaped by the other's.
template <size_t N>
FastStop decodeLanesPortable(std::span<const FastLane> lanes) {
    return decodeLanes<false, N>(lanes.first<N>());
}

#ifdef KORVANE_HAS_BMI2_VARIANT
// The same loop compiled for BMI2's flag-free shifts and bit extraction,
// picked at run time on CPUs that have them.
template <size_t N>
__attribute__((target("bmi2"))) FastStop decodeLanesBmi2(std::span<const FastLane> lanes) {
    return decodeLanes<true, N>(lanes.first<N>());
}
#endif

FastStop decodeLanesVariant(std::span<const FastLane> lanes, FastVariant variant) {
    const bool two = lanes.size() == 2;
#ifdef KORVANE_HAS_BMI2_VARIANT
    if (cpuHasBmi2() && variant == FastVariant::Best)
        return two ? decodeLanesBmi2<2>(lanes) : decodeLanesBmi2<1>(lanes);
#endif
    (void)variant;
    return two ? decodeLanesPortable<2>(lanes) : decodeLanesPortable<1>(lanes);
}

// The loop stops short of the end of the input, since it loads whole words
// and never past the span: with fewer than BitBuffer::START_BYTES left it
// cannot start, and it stops where a refill would not fit, up to a word and
// a word's worth of buffered bytes before the end.
constexpr size_t TAIL_BYTES = size_t{2} * BitBuffer::WORD_BYTES;
// Zeros after a copy of those bytes let the loop consume every real bit.
constexpr size_t TAIL_PADDING = size_t{2} * BitBuffer::WORD_BYTES;
static_assert(BitBuffer::START_BYTES <= TAIL_BYTES);

}  // namespace

FastStop decodeBlocksFast(std::span<const FastLane> lanes, FastVariant variant) {
    FastStop stop = decodeLanesVariant(lanes, variant);
    BitReader& reader = *lanes[0].reader;
    const uint64_t left = reader.size - reader.bytePos;
    if (stop.lane != 0 || stop.result == FastResult::EndOfBlock || left > TAIL_BYTES) return stop;

    // The first lane's last bytes are decoded from a copy followed by zeros.
    // What that decodes stands only if no symbol took a padding bit;
    // otherwise it is undone, and the bit-at-a-time decoder fails from here
    // as it must.
    std::array<uint8_t, TAIL_BYTES + TAIL_PADDING> tail{};
    std::memcpy(tail.data(), reader.data + reader.bytePos, left);
    BitReader padded{tail.data(), left + TAIL_PADDING, 0, reader.bitPos};
    FastLane lane = lanes[0];
    lane.reader = &padded;
    const size_t before = lane.out->size();
    stop = decodeLanesVariant({&lane, 1}, variant);
    if (padded.bytePos * 8 + static_cast<uint64_t>(padded.bitPos) > left * 8) {
        lane.out->resizeUninitialized(before);
        return {0, FastResult::HandOver};
    }
    reader.bytePos += padded.bytePos;
    reader.bitPos = padded.bitPos;
    return stop;
}

bool readDynamicLengthsFast(BitReader& reader, DynamicLengths& result, FastCodeLengthCode& codeLengthCode) {
    if (!BitBuffer::canStart(reader)) return false;
    BitBuffer bits(reader);

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
        // Refilling only when a step might not fit keeps the refill off the
        // path from one symbol to the next most of the time.
        if (bits.count() < MAX_CODE_LENGTH_STEP_BITS) {
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

FastLoopCounts takeFastLoopCounts() { return std::exchange(fastLoopCounts, {}); }

namespace {
template <class Code>
Code builtFrom(std::span<const int32_t> lengths) {
    Code code;
    code.build(lengths);
    return code;
}
}  // namespace

const FastDistanceCode& fixedDistanceCode() {
    static const auto code = builtFrom<FastDistanceCode>(fixedDistanceLengths());
    return code;
}

const FastLiteralCode& fixedLiteralCode() {
    static const auto code = builtFrom<FastLiteralCode>(fixedLiteralLengths());
    return code;
}

}  // namespace korvane
