// The streaming thread's wait with ppoll, and its timer slack and name through prctl and pthreads.
#include "sim/stream/stream_wait.h"

#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>

#include <cerrno>

namespace hxsim {

int waitForStreamWork(const halvex::platform::EventFd& wake, const StreamWaitSet& set, std::chrono::nanoseconds limit)
{
    pollfd fds[4] = {{wake.fd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (halvex::platform::isDescriptor(set.writableDatagrams)) {
        fds[count++] = {set.writableDatagrams, POLLOUT, 0};
    }
    if (halvex::platform::isDescriptor(set.listener)) {
        fds[count++] = {set.listener, POLLIN, 0};
    }
    if (halvex::platform::isDescriptor(set.connection)) {
        const short events = static_cast<short>(POLLIN | (set.connectionWritable ? POLLOUT : 0));
        fds[count++] = {set.connection, events, 0};
    }
    timespec until{};
    const auto nanos = std::max<std::chrono::nanoseconds::rep>(limit.count(), 0);
    until.tv_sec = static_cast<time_t>(nanos / 1000000000);
    until.tv_nsec = static_cast<long>(nanos % 1000000000);
    if (::ppoll(fds, count, &until, nullptr) < 0 && errno != EINTR) {
        return errno;
    }
    return 0;
}

void prepareStreamThread()
{
    // Sleeps between paced packets last microseconds; the default slack of 50 us would stretch them.
    ::prctl(PR_SET_TIMERSLACK, 10'000ul);
    ::pthread_setname_np(::pthread_self(), "hxsim-stream");
}

} // namespace hxsim
