// The bytes of one receive scattered over several pieces of memory, read back in their order.
#include "stream/scattered_bytes.h"

#include <algorithm>
#include <cstring>

namespace halvex::stream {

ScatteredBytes::ScatteredBytes(std::span<const std::span<uint8_t>> pieces, std::size_t received)
    : pieces_(pieces), received_(received)
{
}

std::span<const uint8_t> ScatteredBytes::contiguous(std::size_t from, std::size_t length) const
{
    if (from > received_ || length > received_ - from)
        return {};
    std::size_t start = 0;
    for (const std::span<uint8_t> piece : pieces_) {
        if (from < start + piece.size())
            return from - start + length <= piece.size() ? piece.subspan(from - start, length) : std::span<uint8_t>{};
        start += piece.size();
    }
    return {};
}

std::size_t ScatteredBytes::copyOut(std::size_t from, std::span<uint8_t> out) const
{
    std::size_t wanted = from < received_ ? std::min(out.size(), received_ - from) : 0;
    std::size_t copied = 0;
    std::size_t start = 0;
    for (const std::span<uint8_t> piece : pieces_) {
        if (wanted == 0)
            break;
        const std::size_t end = start + piece.size();
        if (from < end) {
            const std::size_t count = std::min(end - from, wanted);
            std::memcpy(out.data() + copied, piece.data() + (from - start), count);
            copied += count;
            from += count;
            wanted -= count;
        }
        start = end;
    }
    return copied;
}

} // namespace halvex::stream
