#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bit_reader.hpp"
#include "byte_buffer.hpp"
#include "dynamic_tables.hpp"
#include "fast_code.hpp"

namespace korvane {

// The fast path. Each routine either finishes its job exactly as the
// bit-at-a-time routines would, or stops at a point where nothing observable
// has happened yet (a symbol or header boundary) and reports that the
// bit-at-a-time routines must carry on from the reader's position. They stop
// near the end of the input (they read whole 8-byte words and never past the
// span), at anything that is or may be an error, and when the output cannot
// grow by the room a step needs.

enum class FastResult { EndOfBlock, HandOver };

// Best runs the variant of the symbol loop compiled for the running CPU;
// Portable the one for any CPU (so that tests cover it everywhere).
enum class FastVariant { Best, Portable };

// A stream in a Huffman-coded block, as the symbol loop sees it: it reads from
// the reader's position and appends to `out`, whose bytes from streamStart on
// are the stream's history that copies may reach back into.
struct FastLane {
    BitReader* reader;
    ByteBuffer* out;
    size_t streamStart;
    const FastLiteralCode* literalCode;
    const FastDistanceCode* distanceCode;
};

// Which lane stopped, and whether at the end of its block.
struct FastStop {
    size_t lane;
    FastResult result;
};

// Decodes the blocks of one or two lanes, which write to different buffers,
// until one of them stops; the other then stands at a symbol boundary, ready
// to go on. Only the first lane is decoded up to the very end of its input.
FastStop decodeBlocksFast(std::span<const FastLane> lanes, FastVariant variant = FastVariant::Best);

// What the fast symbol loop did in this thread since the last call: bytes
// written (by the variant for the running CPU, so that tests can tell that
// decoding takes the fast path, and the right variant of it), how many of
// them copies wrote, and how many literals were decoded with two lanes running.
struct FastLoopCounts {
    uint64_t bytes = 0;
    uint64_t copied = 0;
    uint64_t pairedLiterals = 0;
};
FastLoopCounts takeFastLoopCounts();

// Reads a dynamic block's code lengths. On false the reader has not moved and
// readDynamicLengths must read them instead. `codeLengthCode` is scratch
// space, passed in so that its storage is reused from block to block.
bool readDynamicLengthsFast(BitReader& reader, DynamicLengths& result, FastCodeLengthCode& codeLengthCode);

// Fast tables of the fixed code, built once per process.
const FastLiteralCode& fixedLiteralCode();
const FastDistanceCode& fixedDistanceCode();

}  // namespace korvane
