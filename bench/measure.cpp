// bench-measure: runs a command and reports its wall time, CPU time and peak
// memory.
//
//   bench-measure COMMAND [ARG...]
//
// The command's standard output and error go to /dev/null. Prints one line,
//   wall_s=<seconds> user_s=<seconds> sys_s=<seconds> maxrss_kb=<peak resident set, KiB> exit=<status>
// where exit is the command's exit status, or 128 + signal number when a
// signal ended it, or 127 when it could not be started. Exits 0 when the
// measurement itself worked.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
        return 2;
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        std::perror("/dev/null");
        return 2;
    }
    timespec start{}, stop{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    pid_t waited;
    while ((waited = wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {}
    clock_gettime(CLOCK_MONOTONIC, &stop);
    if (waited < 0) {
        std::perror("wait4");
        return 2;
    }
    const double seconds =
        static_cast<double>(stop.tv_sec - start.tv_sec) + static_cast<double>(stop.tv_nsec - start.tv_nsec) * 1e-9;
    const auto cpuSeconds = [](timeval t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kb=%ld exit=%d\n", seconds, cpuSeconds(usage.ru_utime),
                cpuSeconds(usage.ru_stime), usage.ru_maxrss, exitCode);
    return 0;
}
