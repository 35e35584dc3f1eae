#include "cli_fixture.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace clitest {

namespace {

// Reads `fd` to its end (at most 64 MiB kept), showing the text to `onOutput`
// after each read until it returns true; "\r\n" read as "\n" under a wrapper.
std::string readAll(int fd, bool wrapped, const std::function<bool(const std::string&)>& onOutput = {}) {
    std::string text;
    bool shown = !onOutput;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, text.size() < (size_t{64} << 20) ? static_cast<size_t>(n) : 0);
        shown = shown || onOutput(text);
    }
    for (size_t at = 0; wrapped && (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    return text;
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void childFail(const char* what) {
    if (write(STDERR_FILENO, what, std::strlen(what)) < 0) _exit(126);
    _exit(127);
}

}  // namespace

// Made absolute here because the child runs in another directory.
std::filesystem::path korvaneExe() {
    const char* exe = std::getenv("KORVANE_TEST_EXE");
    return std::filesystem::absolute(exe != nullptr && *exe != '\0' ? exe : KORVANE_EXE);
}

std::vector<std::string> testWrapper() {
    std::vector<std::string> words;
    const char* wrapper = std::getenv("KORVANE_TEST_WRAPPER");
    std::istringstream in(wrapper != nullptr ? wrapper : KORVANE_DEFAULT_WRAPPER);  // a cross build's emulator
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::vector<testsupport::Missing> missingForRuns() {
    std::vector<testsupport::Missing> missing;
    const std::vector<std::string> wrapper = testWrapper();
    if (!wrapper.empty() && ::access(wrapper.front().c_str(), X_OK) != 0 && !testsupport::findProgram(wrapper.front()))
        missing.push_back({wrapper.front(), wrapper.front().starts_with("qemu") ? "qemu-user" : "wine64"});
    if (korvaneExe().extension() == ".exe" && !std::filesystem::exists(korvaneExe()))
        missing.push_back(
            {"the Windows build " + korvaneExe().string() + " (cmake --preset mingw)", "g++-mingw-w64-x86-64"});
    return missing;
}

RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const RunOptions& options) {
    // Everything the child needs is built before the fork.
    std::vector<std::string> words = testWrapper();
    const bool wrapped = !words.empty();
    const std::string exe = korvaneExe().string(), dir = workDir.string();
    if (wrapped || options.argv0) words.push_back(wrapped ? exe : *options.argv0);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv(words.size() + 1, nullptr);
    std::transform(words.begin(), words.end(), argv.begin(), [](std::string& word) { return word.data(); });
    const std::string cgroupProcs = options.cgroup.empty() ? "" : options.cgroup + "/cgroup.procs";
    // Wine passes non-ASCII arguments on unchanged only under a UTF-8 locale, whatever the caller's.
    for (const char* name : {"LANG", "LC_ALL"})
        if (wrapped) ::setenv(name, "C.UTF-8", 1);
    const char* noHugePages = std::getenv("KORVANE_TEST_NO_HUGE_PAGES");
    const bool hugePagesOff = noHugePages != nullptr && std::string(noHugePages) == "1";

    // Standard output and error go into unnamed scratch files, standard output
    // into a one-page pipe for onOutput. (Not always: a wine server started by
    // the child may hold the pipe, and die writing to it once it is closed.)
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    const File scratchOut(std::tmpfile(), &std::fclose), err(std::tmpfile(), &std::fclose);
    int out[2] = {fileno(scratchOut.get()), -1};
    if (!scratchOut || !err || (options.onOutput && pipe(out) != 0)) throw std::runtime_error("tmpfile or pipe failed");
    if (options.onOutput) fcntl(out[0], F_SETPIPE_SZ, 4096);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(out[options.onOutput ? 1 : 0], STDOUT_FILENO) < 0 ||
            dup2(fileno(err.get()), STDERR_FILENO) < 0)
            _exit(127);
        // A run that loops forever is stopped by the CPU time limit (SIGXCPU).
        const rlimit fileSize{options.fileSizeLimit, options.fileSizeLimit}, cpuTime{60, 60};
        const rlimit addressSpace{options.addressSpaceLimit, options.addressSpaceLimit};
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0 || setrlimit(RLIMIT_CPU, &cpuTime) != 0 ||
            (options.addressSpaceLimit != 0 && setrlimit(RLIMIT_AS, &addressSpace) != 0))
            childFail("runner: setrlimit failed\n");
        if (hugePagesOff && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) childFail("runner: prctl failed\n");
        if (!cgroupProcs.empty()) {  // "0" moves the writing process
            const int procs = open(cgroupProcs.c_str(), O_WRONLY);
            if (procs < 0 || write(procs, "0", 1) != 1) childFail("runner: cannot join the control group\n");
            close(procs);
        }
        if (chdir(dir.c_str()) != 0) childFail("runner: chdir failed\n");
        wrapped ? execvp(argv[0], argv.data()) : execve(exe.c_str(), argv.data(), environ);
        childFail("runner: exec failed\n");
    }
    std::string piped;
    if (options.onOutput) {
        close(out[1]);
        piped = readAll(out[0], wrapped, options.onOutput);
        close(out[0]);
    }
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    auto scratch = [wrapped](std::FILE* file) {
        return lseek(fileno(file), 0, SEEK_SET), readAll(fileno(file), wrapped);
    };
    return {options.onOutput ? piped : scratch(scratchOut.get()), scratch(err.get()),
            WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus)};
}

}  // namespace clitest
