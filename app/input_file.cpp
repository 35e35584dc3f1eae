#include "input_file.hpp"

#include "file_io.hpp"
#include "platform.hpp"

namespace korvane {

bool InputFile::open(const std::string& path) {
    mapped_ = platform::mapInput(path);
    return !mapped_.empty() || readFile(path, copy_);
}

InputFile::~InputFile() {
    if (!mapped_.empty()) platform::unmapInput();
}

bool InputFile::changed() { return platform::inputChanged(); }

std::span<const uint8_t> InputFile::bytes() const {
    return mapped_.empty() ? std::span<const uint8_t>(copy_.data(), copy_.size()) : mapped_;
}

}  // namespace korvane
