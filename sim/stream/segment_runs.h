// Which consecutive datagrams one segmented send (UDP_SEGMENT) can carry together.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace hxsim {

// The most datagrams, and datagram bytes, one segmented send carries: what the system takes (a
// UDP length field's worth in all, and its own limit on segments).
inline constexpr std::size_t kMaxSegmentsPerSend = 64;
inline constexpr std::size_t kMaxSegmentedBytes = 65507;

// Cuts `sizes` (each datagram's length, in sending order) into runs that each go out as one
// send: all datagrams of a run the size of its first but the last, which may be shorter. A run
// of one is a plain datagram. `runs` receives each run's count of datagrams.
void segmentRuns(std::span<const std::size_t> sizes, std::vector<std::size_t>& runs);

} // namespace hxsim
