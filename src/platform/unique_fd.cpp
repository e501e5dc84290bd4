// Sole owner of a descriptor: closes it exactly once, with close() on POSIX and closesocket()
// on Windows.
#include "platform/unique_fd.h"

#if defined(_WIN32)
#  include "platform/win_sockets.h"
#else
#  include <unistd.h>
#endif

#include <utility>

namespace halvex::platform {

namespace {

void closeDescriptor(Descriptor fd)
{
#if defined(_WIN32)
    ::closesocket(static_cast<SOCKET>(fd));
#else
    // Not retried on EINTR: on Linux the descriptor is released even then, and a retry could
    // close a descriptor another thread has just been given.
    ::close(fd);
#endif
}

} // namespace

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
    return std::exchange(fd_, NO_DESCRIPTOR);
}

void UniqueFd::reset(Descriptor fd)
{
    const Descriptor old = std::exchange(fd_, fd);
    if (isDescriptor(old) && old != fd)
        closeDescriptor(old);
}

} // namespace halvex::platform
