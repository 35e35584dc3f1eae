#include <exception>

#include "console.hpp"
#include "driver.hpp"

int main(int argc, char** argv) {
    try {
        return korvane::runKorvane(argc, argv);
    } catch (const std::exception& error) {
        // Only running out of memory outside the decoder gets here.
        korvane::console::err("Error: ", error.what());
        return 1;
    }
}
