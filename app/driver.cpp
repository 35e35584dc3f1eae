#include "driver.hpp"

#include "console.hpp"
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
    console::out("=== Korvane ===");
    console::out("PNG extraction from CompressionFile");
    console::out("(no external dependencies)");
    console::out();

    if (argc < 2) {
        console::out("Usage: ", argv[0] != nullptr ? argv[0] : "", " <input_file> [output_file.png]");
        console::out();
        console::out("Extracts PNG image from Tessel (CompressionFile) format.");
        console::out("If output file is not specified, uses input filename with .png extension.");
        return 1;
    }

    const std::string inputPath = argv[1];
    const std::string outputPath = argc > 2 ? std::string(argv[2]) : deriveOutputPath(inputPath);
    console::out("Input file:  ", inputPath);
    console::out("Output file: ", outputPath);
    console::out();

    InputFile input;
    if (!input.open(inputPath)) return 1;
    console::out("File size: ", input.bytes().size(), " bytes");

    // The signature search runs as blocks are decoded, while their bytes are in cache.
    PngSignatureSearch search;
    const std::optional<ByteBuffer> joined = scanContainer(input.bytes(), &search);
    if (InputFile::changed()) {
        console::err("Error reading file: ", inputPath);
        return 1;
    }
    if (!joined) return 1;
    const std::optional<PngLocation> png = findPngSignature(*joined, search);
    if (!png) return 1;
    if (!writeFile(outputPath, joined->data() + png->offset, png->size)) return 1;

    console::out();
    console::out("Success! PNG saved to: ", outputPath);
    return 0;
}

}  // namespace korvane
