#pragma once

// Runs the Korvane executable as a child process and captures what it does.
// KORVANE_TEST_EXE replaces the executable; KORVANE_TEST_WRAPPER (words, e.g.
// "wine64"; by default a cross build's emulator) goes in front of it, so the
// same tests drive a Windows build ("\r\n" is then read as "\n").
// KORVANE_TEST_NO_HUGE_PAGES=1 runs every child with transparent huge pages
// disabled, which must change nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "missing_packages.hpp"

namespace clitest {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status; 128 + signal number if the child was killed
};

struct RunOptions {
    // The child's argv[0]; nullopt passes none at all. A wrapper sets its own.
    std::optional<std::string> argv0 = "Korvane";
    uint64_t fileSizeLimit = uint64_t{64} << 20;  // RLIMIT_FSIZE, captures included: bounds a runaway child
    uint64_t addressSpaceLimit = 0;               // RLIMIT_AS; 0 leaves it alone
    std::string cgroup = {};                      // a control group the child joins first (needs root)
    // Shown standard output after each read, until it returns true. Standard
    // output is then a one-page pipe, on which the child stalls meanwhile.
    std::function<bool(const std::string&)> onOutput = {};
};

std::vector<std::string> testWrapper();
std::filesystem::path korvaneExe();
// A missing wrapper or Windows build: skip with KORVANE_SKIP_IF_MISSING before a run.
std::vector<testsupport::Missing> missingForRuns();
// Runs Korvane with `args` after argv[0], in `workDir`, stdin on /dev/null.
RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const RunOptions& options = {});

}  // namespace clitest
