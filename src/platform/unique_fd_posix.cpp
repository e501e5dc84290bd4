// Sole owner of a POSIX file descriptor: closes it exactly once.
#include "platform/unique_fd.h"

#include <unistd.h>

#include <utility>

namespace HX_PLATFORM {

UniqueFd::~UniqueFd()
{
    reset();
}

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

Descriptor UniqueFd::release()
{
    return std::exchange(fd_, -1);
}

void UniqueFd::reset(int fd)
{
    const int old = std::exchange(fd_, fd);
    if (old >= 0 && old != fd) {
        // Not retried on EINTR: on Linux the descriptor is released even then, and a retry could
        // close a descriptor another thread has just been given.
        ::close(old);
    }
}

} // namespace HX_PLATFORM
