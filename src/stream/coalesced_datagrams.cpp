// The datagrams of one coalesced receive: cut at the segment size, the last one shorter.
#include "stream/coalesced_datagrams.h"

#include <algorithm>

namespace halvex::stream {

CoalescedDatagrams::CoalescedDatagrams(std::size_t received, std::size_t segmentSize, std::size_t largest)
    : received_(received), segment_(segmentSize == 0 || segmentSize >= received ? received : segmentSize),
      largest_(largest)
{
}

const char* CoalescedDatagrams::fault() const
{
    if (segment_ > largest_)
        return "its datagrams are longer than any the stream carries";
    // Checked before dividing: a tiny segment size would otherwise cut thousands of datagrams.
    if (received_ > MAX_RECEIVE || (segment_ != 0 && (received_ - 1) / segment_ >= MAX_SEGMENTS))
        return "it holds more datagrams than the system coalesces";
    return nullptr;
}

std::size_t CoalescedDatagrams::count() const
{
    if (received_ == 0 || fault() != nullptr)
        return 0;
    return (received_ + segment_ - 1) / segment_;
}

std::size_t CoalescedDatagrams::offset(std::size_t index) const
{
    return std::min(index * segment_, received_);
}

std::size_t CoalescedDatagrams::length(std::size_t index) const
{
    return std::min(segment_, received_ - offset(index));
}

std::span<const uint8_t> CoalescedDatagrams::datagram(std::span<const uint8_t> rest, std::size_t from,
                                                      std::size_t index) const
{
    const std::size_t start = offset(index);
    const std::size_t size = length(index);
    if (index >= count() || start < from || start - from > rest.size() || size > rest.size() - (start - from))
        return {};
    return rest.subspan(start - from, size);
}

} // namespace halvex::stream
