// A manual-reset event a polling thread waits on beside its sockets: a non-blocking event fd,
// signalled while its counter is not zero.
#include "hlv_thread/wake.h"

#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace halvex::thread {

Wake::Handle Wake::openEvent(int& error)
{
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return INVALID_HANDLE;
    }
    return fd;
}

void Wake::closeEvent(Handle handle)
{
    ::close(static_cast<int>(handle));
}

bool Wake::setEvent(Handle handle, int& error)
{
    const uint64_t one = 1;
    for (;;) {
        if (::write(static_cast<int>(handle), &one, sizeof one) == static_cast<ssize_t>(sizeof one))
            return true;
        if (errno == EAGAIN)
            return true; // the counter is full, so the event is certainly signalled
        if (errno != EINTR) {
            error = errno;
            return false;
        }
    }
}

bool Wake::resetEvent(Handle handle, int& error)
{
    uint64_t count = 0;
    for (;;) {
        if (::read(static_cast<int>(handle), &count, sizeof count) == static_cast<ssize_t>(sizeof count))
            continue; // one read clears the counter; go on until the descriptor says it is empty
        if (errno == EAGAIN)
            return true;
        if (errno != EINTR) {
            error = errno;
            return false;
        }
    }
}

} // namespace halvex::thread
