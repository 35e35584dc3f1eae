#pragma once

// Tests that need an optional tool or data package (a compressor, the Tango
// icons, wine, ...) check for it and, when it is missing, skip with a reason
// that names the Debian package. With KORVANE_REQUIRE_ALL_TOOLS=1 (as CI sets
// it) they fail instead. Each missing package is also noted in the directory
// KORVANE_MISSING_DIR (set by CTest), so that one line after the whole run can
// name every package to install.

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

// True when KORVANE_REQUIRE_ALL_TOOLS=1: a missing tool fails the test.
bool toolsRequired();

// The program `name` as found on PATH, if it is there.
std::optional<std::filesystem::path> findProgram(std::string_view name);

// Notes every package in `missing` for the current test and returns the
// reason to report, naming each package and the command that installs them.
std::string noteMissing(const std::vector<Missing>& missing);

}  // namespace testsupport

// Skips the current test (fails it under KORVANE_REQUIRE_ALL_TOOLS=1) when
// `missing`, a std::vector<testsupport::Missing>, is not empty.
#define KORVANE_SKIP_IF_MISSING(missing)                               \
    do {                                                               \
        if (!(missing).empty()) {                                      \
            const std::string why = testsupport::noteMissing(missing); \
            if (testsupport::toolsRequired()) FAIL() << why;           \
            GTEST_SKIP() << why;                                       \
        }                                                              \
    } while (0)
