#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// Lets a caller look at decoded bytes while they are still in cache instead of
// in a separate pass over the whole output. The decoder calls seen() after each
// DEFLATE block with everything in the output buffer so far. Decoding only
// appends, so bytes shown once never change, unless the stream then fails, in
// which case its bytes are cut off again.
class OutputWatcher {
public:
    virtual void seen(const uint8_t* data, size_t size) = 0;

protected:
    ~OutputWatcher() = default;
};

}  // namespace korvane
