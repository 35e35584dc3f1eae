#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane {

// RFC 1951, 3.2.5: copy lengths for symbols 257..285 and distances for 0..29.
inline constexpr int32_t LENGTH_SYMBOL_COUNT = 29;
inline constexpr int32_t DIST_SYMBOL_COUNT = 30;
inline constexpr int32_t END_OF_BLOCK = 256;
inline constexpr int32_t FIRST_LENGTH_SYMBOL = 257;

inline constexpr std::array<int32_t, LENGTH_SYMBOL_COUNT> LENGTH_BASE = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<int32_t, LENGTH_SYMBOL_COUNT> LENGTH_EXTRA = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<int32_t, DIST_SYMBOL_COUNT> DIST_BASE = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<int32_t, DIST_SYMBOL_COUNT> DIST_EXTRA = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The most extra bits a copy length and a distance take.
template <size_t N>
constexpr int32_t largest(const std::array<int32_t, N>& values) {
    int32_t most = values[0];
    for (const int32_t value : values) most = value > most ? value : most;
    return most;
}
inline constexpr int32_t MAX_LENGTH_EXTRA = largest(LENGTH_EXTRA);
inline constexpr int32_t MAX_DIST_EXTRA = largest(DIST_EXTRA);

// RFC 1951, 3.2.7: order in which code-length code lengths are sent.
inline constexpr std::array<int32_t, 19> CODE_LENGTH_ORDER = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                              11, 4,  12, 3, 13, 2, 14, 1, 15};

// RFC 1951, 3.2.6: the fixed code, built whole (288 and 32 symbols).
inline constexpr int32_t FIXED_LITLEN_COUNT = 288;
inline constexpr int32_t FIXED_DIST_COUNT = 32;

constexpr std::array<int32_t, FIXED_LITLEN_COUNT> fixedLiteralLengths() {
    std::array<int32_t, FIXED_LITLEN_COUNT> lengths{};
    for (int32_t s = 0; s < FIXED_LITLEN_COUNT; ++s)
        lengths[static_cast<size_t>(s)] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return lengths;
}

constexpr std::array<int32_t, FIXED_DIST_COUNT> fixedDistanceLengths() {
    std::array<int32_t, FIXED_DIST_COUNT> lengths{};
    lengths.fill(5);
    return lengths;
}

}  // namespace korvane
