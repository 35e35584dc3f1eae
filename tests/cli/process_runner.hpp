#pragma once

// Runs the Korvane executable as a child process and captures what it does.
//
// KORVANE_TEST_EXE replaces the executable under test; KORVANE_TEST_WRAPPER
// (space-separated words, e.g. "wine64") is put in front of it, so the same
// tests can drive a Windows build. Under a wrapper "\r\n" is read as "\n",
// and the child runs with LANG and LC_ALL set to C.UTF-8, so that wine passes
// non-ASCII arguments on unchanged whatever the caller's locale.
//
// KORVANE_TEST_NO_HUGE_PAGES=1 runs every child with transparent huge pages
// disabled (prctl PR_SET_THP_DISABLE), so the suite can check that they change
// nothing.

#include <cstdint>
#include <filesystem>
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
    // The child's argv[0]; nullopt passes no argv[0] at all. A wrapper sets
    // argv[0] itself, so this has no effect under one.
    std::optional<std::string> argv0 = "Korvane";
    // The most the child may write to any file, captures included; beyond it
    // the child is killed (SIGXFSZ). The default bounds a runaway child.
    uint64_t fileSizeLimit = uint64_t{64} << 20;
    // The child's address-space limit in bytes (RLIMIT_AS); 0 leaves it alone.
    uint64_t addressSpaceLimit = 0;
    // A control group directory the child joins first (needs root); empty: none.
    std::string cgroup = {};
};

std::vector<std::string> testWrapper();
// A missing wrapper (wine64) or Windows build (g++-mingw-w64-x86-64): call
// KORVANE_SKIP_IF_MISSING with it before a run.
std::vector<testsupport::Missing> missingForRuns();
std::filesystem::path korvaneExe();

// Runs Korvane with `args` after argv[0], in `workDir`, stdin on /dev/null.
RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const RunOptions& options = {});

}  // namespace clitest
