#include "process_runner.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace clitest {

namespace {

constexpr uid_t NOBODY_UID = 65534;
constexpr gid_t NOGROUP_GID = 65534;
constexpr auto RUN_TIME_LIMIT = std::chrono::seconds(60);
constexpr rlim_t FILE_SIZE_LIMIT = rlim_t{64} << 20;

// An unnamed scratch file for one captured stream; gone once closed.
class CaptureFile {
public:
    CaptureFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvane-capture-XXXXXX";
        fd_ = mkstemp(name.data());
        if (fd_ < 0) throw std::runtime_error("mkstemp failed for " + name);
        unlink(name.c_str());
    }
    ~CaptureFile() { close(fd_); }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    [[nodiscard]] int fd() const { return fd_; }

    std::string contents() const {
        std::string text;
        char chunk[4096];
        for (off_t pos = 0;;) {
            const ssize_t n = pread(fd_, chunk, sizeof chunk, pos);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error("reading a capture file failed");
            if (n == 0) return text;
            text.append(chunk, static_cast<size_t>(n));
            pos += n;
        }
    }

private:
    int fd_ = -1;
};

std::string withUnixNewlines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
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
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string dir = workDir.string();
    std::vector<std::string> envStrings = options.environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view name(*entry, std::strcspn(*entry, "="));
        bool replaced = false;
        for (const std::string& own : options.environment) replaced = replaced || own.starts_with(std::string(name) + "=");
        if (!replaced) envStrings.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    CaptureFile out;
    CaptureFile err;
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(out.fd(), STDOUT_FILENO) < 0 ||
            dup2(err.fd(), STDERR_FILENO) < 0)
            _exit(127);
        // Bounds what a runaway child can write, captures included.
        const rlimit fileSizeLimit{FILE_SIZE_LIMIT, FILE_SIZE_LIMIT};
        if (setrlimit(RLIMIT_FSIZE, &fileSizeLimit) != 0) childFail("runner: setrlimit failed\n");
        if (chdir(dir.c_str()) != 0) childFail("runner: chdir failed\n");
        if (options.asNobody &&
            (setgroups(0, nullptr) != 0 || setgid(NOGROUP_GID) != 0 || setuid(NOBODY_UID) != 0))
            childFail("runner: cannot switch to nobody\n");
        if (wrapper.empty())
            execve(exe.c_str(), argv.data(), envp.data());
        else
            execvpe(argv[0], argv.data(), envp.data());
        childFail("runner: exec failed\n");
    }

    // A run that loops forever would also fill the capture files: stop it.
    int waitStatus = 0;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + RUN_TIME_LIMIT;
    for (;;) {
        const pid_t done = waitpid(pid, &waitStatus, timedOut ? 0 : WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
        if (!timedOut && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            timedOut = true;
        }
        if (!timedOut) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    RunResult result;
    result.out = out.contents();
    result.err = err.contents();
    if (!wrapper.empty()) {
        result.out = withUnixNewlines(result.out);
        result.err = withUnixNewlines(result.err);
    }
    if (timedOut) result.err += "[runner: killed after the time limit]\n";
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    return result;
}

}  // namespace clitest
