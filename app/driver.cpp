#include "driver.hpp"

#include <iostream>

#include "container.hpp"
#include "file_io.hpp"
#include "input_file.hpp"
#include "png_search.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvane {

std::string deriveOutputPath(const std::string& inputPath) {
    const size_t dot = inputPath.rfind('.');
    return (dot == std::string::npos ? inputPath : inputPath.substr(0, dot)) + ".png";
}

int runKorvane(int argc, char** argv) {
#ifdef _WIN32
    SetConsoleOutputCP(65001);  // UTF-8 console, so paths print as given
#endif
    std::cout << "=== Korvane ===" << std::endl;
    std::cout << "PNG extraction from CompressionFile" << std::endl;
    std::cout << "(no external dependencies)" << std::endl;
    std::cout << std::endl;

    if (argc < 2) {
        std::cout << "Usage: " << (argc > 0 && argv[0] != nullptr ? argv[0] : "") << " <input_file> [output_file.png]"
                  << std::endl;
        std::cout << std::endl;
        std::cout << "Extracts PNG image from Tessel (CompressionFile) format." << std::endl;
        std::cout << "If output file is not specified, uses input filename with .png extension." << std::endl;
        return 1;
    }

    const std::string inputPath = argv[1];
    const std::string outputPath = argc > 2 ? std::string(argv[2]) : deriveOutputPath(inputPath);
    std::cout << "Input file:  " << inputPath << std::endl;
    std::cout << "Output file: " << outputPath << std::endl;
    std::cout << std::endl;

    InputFile input;
    if (!input.open(inputPath)) return 1;
    std::cout << "File size: " << input.bytes().size() << " bytes" << std::endl;

    // The signature search runs as blocks are decoded, while their bytes are in cache.
    PngSignatureSearch search;
    const std::optional<ByteBuffer> joined = scanContainer(input.bytes(), &search);
    if (InputFile::changed()) {
        std::cerr << "Error reading file: " << inputPath << std::endl;
        return 1;
    }
    if (!joined) return 1;
    const std::optional<PngLocation> png = findPngSignature(*joined, search);
    if (!png) return 1;
    if (!writeFile(outputPath, joined->data() + png->offset, png->size)) return 1;

    std::cout << std::endl;
    std::cout << "Success! PNG saved to: " << outputPath << std::endl;
    return 0;
}

}  // namespace korvane
