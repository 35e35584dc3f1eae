#include <exception>
#include <iostream>

#include "driver.hpp"

int main(int argc, char** argv) {
    try {
        return korvane::runKorvane(argc, argv);
    } catch (const std::exception& error) {
        // Only running out of memory outside the decoder gets here.
        std::cerr << "Error: " << error.what() << std::endl;
        return 1;
    }
}
