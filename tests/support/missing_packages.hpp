#pragma once

// A test that needs an optional tool or package skips without it, naming the
// Debian package (fails with KORVANE_REQUIRE_ALL_TOOLS=1, as in CI), and notes
// the package in KORVANE_MISSING_DIR for the line after the whole run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

struct Missing {
    std::string what;     // e.g. "zopfli" or "the Tango icons"
    std::string package;  // the Debian package that provides it
};

inline bool toolsRequired() {
    const char* value = std::getenv("KORVANE_REQUIRE_ALL_TOOLS");
    return value != nullptr && std::string_view(value) == "1";
}

// The program `name` as found on PATH, if it is there.
inline std::optional<fs::path> findProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// Notes each package for the running test; returns the reason to report.
inline std::string noteMissing(const std::vector<Missing>& missing) {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    const char* dir = std::getenv("KORVANE_MISSING_DIR");
    std::string why = "missing ", packages;
    for (const Missing& item : missing) {
        if (dir != nullptr && *dir != '\0') {  // one small append per test: parallel tests do not mix lines
            std::error_code error;
            fs::create_directories(dir, error);
            std::ofstream(fs::path(dir) / item.package, std::ios::app)
                << test.test_suite_name() << '.' << test.name() << '\n';
        }
        why += (packages.empty() ? "" : ", ") + item.what + " (Debian package " + item.package + ")";
        packages += " " + item.package;
    }
    return why + "; install with: apt-get install" + packages + ", or everything with tools/install-deps.sh";
}

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
