#include "missing_packages.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

bool toolsRequired() {
    const char* value = std::getenv("KORVANE_REQUIRE_ALL_TOOLS");
    return value != nullptr && std::string_view(value) == "1";
}

std::optional<fs::path> findProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::string noteMissing(const std::vector<Missing>& missing) {
    const ::testing::TestInfo* const test = ::testing::UnitTest::GetInstance()->current_test_info();
    // Outside a test (in the global set-up) the filter names the test CTest
    // runs in this process.
    const std::string testName =
        test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : GTEST_FLAG_GET(filter);
    // One file per package, one line per test: small appends, so tests
    // running in parallel do not mix their lines.
    const char* dir = std::getenv("KORVANE_MISSING_DIR");
    if (dir != nullptr && *dir != '\0') {
        std::error_code error;
        fs::create_directories(dir, error);
        for (const Missing& item : missing)
            std::ofstream(fs::path(dir) / item.package, std::ios::app) << testName << '\n';
    }

    std::string why = "missing ";
    std::string packages;
    for (size_t i = 0; i < missing.size(); ++i) {
        why += (i > 0 ? ", " : "") + missing[i].what + " (Debian package " + missing[i].package + ")";
        packages += " " + missing[i].package;
    }
    return why + "; install with: apt-get install" + packages + ", or everything with tools/install-deps.sh";
}

}  // namespace testsupport
