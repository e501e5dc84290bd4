// Stream bytes the TCP image receiver has taken from its connection but not parsed yet: the
// recovery scan's window, and what follows a leader the scan found.
#include "stream/tcp_pending_bytes.h"

#include <algorithm>
#include <cstring>

namespace halvex::stream {

TcpPendingBytes::TcpPendingBytes() : scratch_(SCAN_WINDOW + KEPT_FOR_NEXT_SCAN) {}

std::size_t TcpPendingBytes::size() const
{
    return end_ - begin_;
}

std::size_t TcpPendingBytes::take(uint8_t* into, std::size_t want)
{
    const std::size_t got = std::min(want, size());
    std::memcpy(into, scratch_.data() + begin_, got);
    begin_ += got;
    return got;
}

void TcpPendingBytes::putBack(std::span<const uint8_t> bytes)
{
    const std::size_t pending = size();
    const std::size_t kept = std::min(bytes.size(), scratch_.size() - pending);
    std::memmove(scratch_.data() + kept, scratch_.data() + begin_, pending);
    std::memcpy(scratch_.data(), bytes.data() + (bytes.size() - kept), kept);
    begin_ = 0;
    end_ = kept + pending;
}

std::span<uint8_t> TcpPendingBytes::compactForScan()
{
    const std::size_t have = size();
    std::memmove(scratch_.data(), scratch_.data() + begin_, have);
    begin_ = 0;
    end_ = have;
    return std::span<uint8_t>(scratch_).subspan(have);
}

void TcpPendingBytes::filled(std::size_t count)
{
    end_ += count;
}

std::span<const uint8_t> TcpPendingBytes::window() const
{
    return std::span<const uint8_t>(scratch_).first(end_);
}

void TcpPendingBytes::consumeTo(std::size_t offset)
{
    begin_ = offset;
}

void TcpPendingBytes::clear()
{
    begin_ = end_ = 0;
}

} // namespace halvex::stream
