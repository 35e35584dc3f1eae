#pragma once

#include <cstddef>
#include <cstdint>

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

// Decodes a Huffman-coded block's symbols from the reader's position, appending
// to `out`. Copies may reach back to out[streamStart] and no further.
FastResult decodeBlockFast(BitReader& reader, ByteBuffer& out, size_t streamStart, const FastLiteralCode& literalCode,
                           const FastDistanceCode& distanceCode, FastVariant variant = FastVariant::Best);

// Bytes the fast symbol loop, in its variant for the running CPU, has written
// in this thread since the last call, so that tests can tell that decoding
// takes the fast path, and the right variant of it.
uint64_t takeFastLoopBytes();

// Reads a dynamic block's code lengths. On false the reader has not moved and
// readDynamicLengths must read them instead. `codeLengthCode` is scratch
// space, passed in so that its storage is reused from block to block.
bool readDynamicLengthsFast(BitReader& reader, DynamicLengths& result, FastCodeLengthCode& codeLengthCode);

// Fast tables of the fixed code, built once per process.
const FastLiteralCode& fixedLiteralCode();
const FastDistanceCode& fixedDistanceCode();

}  // namespace korvane
