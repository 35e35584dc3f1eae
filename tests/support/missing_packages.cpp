#include "missing_packages.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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
