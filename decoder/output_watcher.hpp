#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// Lets a caller look at decoded bytes while they are still in cache instead of
// in a separate pass over the whole output. The decoder shows it the new bytes
// after each DEFLATE block, and what a stream decoded ahead holds when it
// joins the output. Decoding only appends, so bytes once shown never change,
// unless the stream then fails: the decoder cuts its bytes off again and says
// so (and may then decode the stream again, when memory ran out).
class OutputWatcher {
public:
    // output[from, size) is new; output[0, from) was shown before, unchanged.
    virtual void appended(const uint8_t* output, size_t from, size_t size) = 0;
    // A failed stream left only output[0, size).
    virtual void cutBack(size_t size) = 0;

protected:
    ~OutputWatcher() = default;
};

}  // namespace korvane
