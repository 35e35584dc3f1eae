#pragma once

#include <string>

namespace korvane {

// The output name used when none is given: the input path up to its last dot
// (wherever it is, directory part included), then ".png".
std::string deriveOutputPath(const std::string& inputPath);

// Runs the program on its command line and returns the exit status (0 or 1).
int runKorvane(int argc, char** argv);

}  // namespace korvane
