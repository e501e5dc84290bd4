// Which consecutive datagrams one segmented send (UDP_SEGMENT) can carry together.
#include "sim/stream/segment_runs.h"

namespace hxsim {

void segmentRuns(std::span<const std::size_t> sizes, std::vector<std::size_t>& runs)
{
    runs.clear();
    std::size_t first = 0;
    while (first < sizes.size()) {
        const std::size_t segment = sizes[first];
        std::size_t bytes = segment;
        std::size_t next = first + 1;
        // A shorter datagram ends its run: the system cuts every segment but the last at the
        // first's size. Empty datagrams travel alone.
        while (segment > 0 && next < sizes.size() && next - first < kMaxSegmentsPerSend && sizes[next] > 0 &&
               sizes[next] <= segment && bytes + sizes[next] <= kMaxSegmentedBytes && sizes[next - 1] == segment) {
            bytes += sizes[next];
            ++next;
        }
        runs.push_back(next - first);
        first = next;
    }
}

} // namespace hxsim
