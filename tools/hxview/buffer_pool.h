// hxview buffer pool: image buffers the viewer lends to the library, with their records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <hx/hx.h>

namespace hxview {

// The library may hold a lent buffer until HX_shutdown, so a pool only grows: its buffers live as
// long as the pool, which outlives the library's shut-down. Any thread may call.
class BufferPool {
public:
    // `count` buffers of at least `size` bytes that are not lent now, marked lent, with their
    // results cleared.
    std::vector<HX_READ_STREAM*> take(std::size_t count, std::size_t size);
    // Marks a returned buffer free again.
    void give(HX_READ_STREAM* record);
    // Clears a buffer's results before it is lent again, so what comes back is this round's alone.
    static void clear(HX_READ_STREAM& record);
    // A buffer given back unfilled keeps the status it was lent with, plus error and last.
    static bool unfilled(const HX_READ_STREAM& record);

private:
    struct Buffer {
        explicit Buffer(std::size_t size);
        HX_READ_STREAM record{};
        std::unique_ptr<uint8_t[]> bytes;
        bool lent = true;
    };
    std::mutex lock_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
};

} // namespace hxview
