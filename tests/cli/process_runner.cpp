#include "process_runner.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "missing_packages.hpp"

namespace clitest {

namespace {

constexpr rlim_t RUN_TIME_LIMIT_S = 60;  // of CPU time

// An unnamed scratch file for one captured stream; gone once closed.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
File scratchFile() {
    File file(std::tmpfile(), &std::fclose);
    if (!file) throw std::runtime_error("tmpfile failed");
    return file;
}

std::string contents(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    return text;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> list;
    list.reserve(words.size() + 1);
    for (std::string& word : words) list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

void dropCarriageReturns(std::string& text) {
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void childFail(const char* what) {
    const ssize_t ignored = write(STDERR_FILENO, what, std::strlen(what));
    (void)ignored;
    _exit(127);
}

// The child's environment under a wrapper: the caller's, with a UTF-8 locale.
std::vector<std::string> wrappedEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("LANG=") && !text.starts_with("LC_ALL=")) entries.emplace_back(text);
    }
    entries.emplace_back("LANG=C.UTF-8");
    entries.emplace_back("LC_ALL=C.UTF-8");
    return entries;
}

bool isExecutable(const std::string& program) {
    if (program.find('/') == std::string::npos) return testsupport::findProgram(program).has_value();
    return ::access(program.c_str(), X_OK) == 0;
}

// Stops the whole run before any test. A failure in gtest's global set-up
// would mark every test skipped, which CTest would count as a skip.
[[noreturn]] void stopRun(const std::string& why) {
    std::fprintf(stderr, "cli tests: %s\n", why.c_str());
    std::exit(1);
}

// Wine's first start in a new prefix reports on stderr that it made it, which
// the tests would read as the program's: set the prefix up first, quietly.
void prepareWinePrefix(const std::vector<std::string>& wrapper) {
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    std::filesystem::path dir;
    if (prefix != nullptr && *prefix != '\0')
        dir = prefix;
    else if (home != nullptr && *home != '\0')
        dir = std::filesystem::path(home) / ".wine";
    if (dir.empty() || std::filesystem::exists(dir / ".update-timestamp")) return;
    std::string command = "WINEDEBUG=-all";
    for (const std::string& word : wrapper) command.append(" '").append(word).append("'");
    command += " wineboot --init >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) stopRun("could not set up the wine prefix " + dir.string());
}

// Checks, once before the tests, that the wrapper and the executable under
// test are there. A skip here leaves every test unrun, and gtest then prints
// only the message: it carries gtest's skip marker itself, so that CTest
// counts the test as skipped rather than passed.
class RunnableCheck : public ::testing::Environment {
public:
    void SetUp() override {
        std::vector<testsupport::Missing> missing;
        const std::vector<std::string> wrapper = testWrapper();
        if (!wrapper.empty() && !isExecutable(wrapper.front())) {
            if (wrapper.front().find("wine") == std::string::npos)
                stopRun("KORVANE_TEST_WRAPPER: cannot run " + wrapper.front());
            missing.push_back({"wine (" + wrapper.front() + ")", "wine64"});
        }
        const std::filesystem::path exe = korvaneExe();
        if (!std::filesystem::exists(exe)) {
            const bool windows = exe.extension() == ".exe";
            if (!windows || testsupport::findProgram("x86_64-w64-mingw32-g++-posix"))
                stopRun(exe.string() + " does not exist" +
                        (windows ? "; build it with: cmake --preset mingw && cmake --build --preset mingw" : ""));
            missing.push_back({"the mingw-w64 cross compiler for " + exe.filename().string(), "g++-mingw-w64-x86-64"});
        }
        if (missing.empty()) {
            if (!wrapper.empty() && wrapper.front().find("wine") != std::string::npos) prepareWinePrefix(wrapper);
            return;
        }
        const std::string why = testsupport::noteMissing(missing);
        if (testsupport::toolsRequired()) stopRun(why);
        GTEST_SKIP() << "[  SKIPPED ] every test: " << why;
    }
};

[[maybe_unused]] ::testing::Environment* const runnableCheck = ::testing::AddGlobalTestEnvironment(new RunnableCheck);

}  // namespace

std::vector<std::string> testWrapper() {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("KORVANE_TEST_WRAPPER")) {
        std::istringstream in(wrapper);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

std::filesystem::path korvaneExe() {
    const char* exe = std::getenv("KORVANE_TEST_EXE");
    // Made absolute here because the child runs in another directory.
    return std::filesystem::absolute(exe != nullptr && *exe != '\0' ? exe : KORVANE_EXE);
}

RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const RunOptions& options) {
    const std::vector<std::string> wrapper = testWrapper();
    const std::string exe = korvaneExe().string();

    // Everything the child needs is built before the fork.
    std::vector<std::string> words = wrapper;
    if (!wrapper.empty())
        words.push_back(exe);
    else if (options.argv0)
        words.push_back(*options.argv0);
    words.insert(words.end(), args.begin(), args.end());
    const std::vector<char*> argv = pointers(words);
    std::vector<std::string> environment = wrapper.empty() ? std::vector<std::string>{} : wrappedEnvironment();
    const std::vector<char*> envp = pointers(environment);
    const std::string dir = workDir.string();
    const char* noHugePages = std::getenv("KORVANE_TEST_NO_HUGE_PAGES");
    const bool hugePagesOff = noHugePages != nullptr && std::string(noHugePages) == "1";

    const File out = scratchFile();
    const File err = scratchFile();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(fileno(out.get()), STDOUT_FILENO) < 0 ||
            dup2(fileno(err.get()), STDERR_FILENO) < 0)
            _exit(127);
        // A run that loops forever is stopped by the CPU time limit (SIGXCPU).
        const rlimit fileSizeLimit{options.fileSizeLimit, options.fileSizeLimit};
        const rlimit cpuTime{RUN_TIME_LIMIT_S, RUN_TIME_LIMIT_S};
        if (setrlimit(RLIMIT_FSIZE, &fileSizeLimit) != 0 || setrlimit(RLIMIT_CPU, &cpuTime) != 0)
            childFail("runner: setrlimit failed\n");
        const rlimit addressSpace{options.addressSpaceLimit, options.addressSpaceLimit};
        if (options.addressSpaceLimit != 0 && setrlimit(RLIMIT_AS, &addressSpace) != 0)
            childFail("runner: setrlimit failed\n");
        if (hugePagesOff && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) childFail("runner: prctl failed\n");
        if (chdir(dir.c_str()) != 0) childFail("runner: chdir failed\n");
        if (wrapper.empty())
            execve(exe.c_str(), argv.data(), environ);
        else
            execvpe(argv[0], argv.data(), envp.data());
        childFail("runner: exec failed\n");
    }

    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");

    RunResult result;
    result.out = contents(out.get());
    result.err = contents(err.get());
    if (!wrapper.empty()) {
        dropCarriageReturns(result.out);
        dropCarriageReturns(result.err);
    }
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    return result;
}

}  // namespace clitest
