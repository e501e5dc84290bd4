// Manual-reset event on a non-blocking eventfd: stays signalled until reset, and can be polled
// beside sockets.
#include "platform/event_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace halvex::platform {

EventFd::EventFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (!fd_.valid()) {
        error_ = errno;
    }
}

EventFd::~EventFd() = default;

bool EventFd::valid() const
{
    return fd_.valid();
}

bool EventFd::set()
{
    const uint64_t one = 1;
    for (;;) {
        if (::write(fd_.get(), &one, sizeof one) == static_cast<ssize_t>(sizeof one)) {
            return true;
        }
        if (errno == EAGAIN) {
            return true; // the counter is full, so the event is certainly signalled
        }
        if (errno != EINTR) {
            error_ = errno;
            return false;
        }
    }
}

bool EventFd::reset()
{
    uint64_t count = 0;
    for (;;) {
        if (::read(fd_.get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
            continue; // one read clears the counter; go on until the descriptor says it is empty
        }
        if (errno == EAGAIN) {
            return true;
        }
        if (errno != EINTR) {
            error_ = errno;
            return false;
        }
    }
}

bool EventFd::isSet() const
{
    pollfd entry{fd_.get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

} // namespace halvex::platform
