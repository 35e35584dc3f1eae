// bench-floor: the least a program linked like Korvane can cost per run
// (start-up, one line of output through C's streams as Korvane prints, exit),
// for the small-file timings.

#include <cstdio>

int main() {
    std::fputs("=== Korvane ===\n", stdout);
    std::fflush(stdout);
    return 0;
}
