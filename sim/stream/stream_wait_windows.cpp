// The streaming thread's wait with the library's PollSet. Its limit is rounded up to whole
// milliseconds, so paced packets go out in bursts of up to a millisecond's worth (the sender
// catches up after each wait) rather than spread evenly as on Linux.
#include "sim/stream/stream_wait.h"

#include <algorithm>
#include <optional>

#include "platform/poll_wait.h"

namespace hxsim {

int waitForStreamWork(const halvex::platform::EventFd& wake, const StreamWaitSet& set, std::chrono::nanoseconds limit)
{
    // A fresh set each time: the sockets watched change from wait to wait, and each socket may be
    // bound to one set's event at a time.
    halvex::platform::PollSet waits;
    waits.add(wake);
    if (halvex::platform::isDescriptor(set.writableDatagrams)) {
        waits.add(set.writableDatagrams, true);
    }
    if (halvex::platform::isDescriptor(set.listener)) {
        waits.add(set.listener);
    }
    if (halvex::platform::isDescriptor(set.connection)) {
        waits.add(set.connection, set.connectionWritable);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(limit, std::chrono::nanoseconds(0)));
    return waits.wait(wait) == halvex::platform::PollStatus::Failed ? waits.error() : 0;
}

// Windows timers have no slack to set, and thread names serve the Linux benchmarks only.
void prepareStreamThread() {}

} // namespace hxsim
