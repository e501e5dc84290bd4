// The datagrams of one coalesced receive: a sender's datagrams of one size laid back to back, the
// last possibly shorter, as the system hands them over when it coalesces a flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvex::stream {

// Cuts a receive of `received` bytes every `segmentSize` bytes. A segment size of 0 (the system
// did not coalesce), or one not smaller than the receive, makes the whole receive one datagram.
// The figures come from the system, but nothing here trusts them: a receive that cannot be cut
// into datagrams the stream carries has a fault(), and no offset or length ever leaves it.
class CoalescedDatagrams {
public:
    // The most datagrams the system coalesces into one receive.
    static constexpr std::size_t MAX_SEGMENTS = 64;
    // The largest coalesced receive the system hands over: a UDP length field's worth.
    static constexpr std::size_t MAX_RECEIVE = 65536;

    // `largest` is the longest datagram the reader takes; longer ones are a fault.
    CoalescedDatagrams(std::size_t received, std::size_t segmentSize, std::size_t largest);

    // Why the receive is no run of datagrams the reader takes; nullptr when it is one.
    const char* fault() const;
    // The datagrams in the receive: 0 when it has a fault or is empty.
    std::size_t count() const;
    // The segment size the receive is cut at (the received length for one datagram).
    std::size_t segmentSize() const { return segment_; }
    std::size_t offset(std::size_t index) const;
    std::size_t length(std::size_t index) const;
    // The index-th datagram of `rest`, which holds the receive from byte `from` on; empty when
    // the datagram does not lie whole within it.
    std::span<const uint8_t> datagram(std::span<const uint8_t> rest, std::size_t from, std::size_t index) const;

private:
    std::size_t received_;
    std::size_t segment_;
    std::size_t largest_;
};

} // namespace halvex::stream
