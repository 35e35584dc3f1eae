// bench-floor: the least a program linked like Korvane can cost per run
// (start-up, iostreams, one line of output, exit), for the small-file timings.

#include <iostream>

int main() {
    std::cout << "=== Korvane ===\n";
    return 0;
}
