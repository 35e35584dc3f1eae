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

}  // namespace

std::vector<std::string> testWrapper() {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("KORVANE_TEST_WRAPPER")) {
        std::istringstream in(wrapper);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

std::vector<testsupport::Missing> missingForRuns() {
    std::vector<testsupport::Missing> missing;
    const std::vector<std::string> wrapper = testWrapper();
    if (!wrapper.empty() && ::access(wrapper.front().c_str(), X_OK) != 0 && !testsupport::findProgram(wrapper.front()))
        missing.push_back({"wine (" + wrapper.front() + ")", "wine64"});
    if (korvaneExe().extension() == ".exe" && !std::filesystem::exists(korvaneExe()))
        missing.push_back(
            {"the Windows build " + korvaneExe().string() + " (cmake --preset mingw)", "g++-mingw-w64-x86-64"});
    return missing;
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
    const std::string dir = workDir.string();
    const std::string cgroupProcs = options.cgroup.empty() ? "" : options.cgroup + "/cgroup.procs";
    // Wine reads the arguments in the locale it is given: non-ASCII paths
    // arrive unchanged only under a UTF-8 one, whatever the caller's.
    if (!wrapper.empty()) {
        ::setenv("LANG", "C.UTF-8", 1);
        ::setenv("LC_ALL", "C.UTF-8", 1);
    }
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
        if (!cgroupProcs.empty()) {  // "0" moves the writing process
            const int procs = open(cgroupProcs.c_str(), O_WRONLY);
            if (procs < 0 || write(procs, "0", 1) != 1) childFail("runner: cannot join the control group\n");
            close(procs);
        }
        if (chdir(dir.c_str()) != 0) childFail("runner: chdir failed\n");
        if (wrapper.empty())
            execve(exe.c_str(), argv.data(), environ);
        else
            execvp(argv[0], argv.data());
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
