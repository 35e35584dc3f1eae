#pragma once

// A test that needs an optional tool or package skips without it, naming the
// Debian package (fails with KORVANE_REQUIRE_ALL_TOOLS=1, as in CI), and notes
// the package in KORVANE_MISSING_DIR for the line after the whole run.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

struct Missing {
    std::string what;     // e.g. "zopfli" or "the Tango icons"
    std::string package;  // the Debian package that provides it
};

bool toolsRequired();
// The program `name` as found on PATH, if it is there.
std::optional<std::filesystem::path> findProgram(std::string_view name);
// Notes each package for the running test; returns the reason to report.
std::string noteMissing(const std::vector<Missing>& missing);

}  // namespace testsupport

// Skips (or fails) the running test when `missing` is not empty.
#define KORVANE_SKIP_IF_MISSING(missing)                               \
    do {                                                               \
        if (!(missing).empty()) {                                      \
            const std::string why = testsupport::noteMissing(missing); \
            if (testsupport::toolsRequired()) FAIL() << why;           \
            GTEST_SKIP() << why;                                       \
        }                                                              \
    } while (0)
