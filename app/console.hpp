#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

// Console lines, each written and flushed as soon as it is complete, so that
// standard output and standard error keep their order wherever they go. They
// go through C's streams: C++'s would set up their locale machinery on every
// run, a tenth of a millisecond that a run on a small file would notice.
namespace korvane::console {

namespace detail {
inline void append(std::string& line, std::string_view text) { line += text; }
template <class Number>
requires std::is_integral_v<Number>
void append(std::string& line, Number number) { line += std::to_string(number); }

template <class... Parts>
void print(std::FILE* stream, const Parts&... parts) {
    std::string line;
    (append(line, parts), ...);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}
}  // namespace detail

// Text and numbers (in plain decimal), then a newline.
template <class... Parts>
void out(const Parts&... parts) {
    detail::print(stdout, parts...);
}
template <class... Parts>
void err(const Parts&... parts) {
    detail::print(stderr, parts...);
}

}  // namespace korvane::console
