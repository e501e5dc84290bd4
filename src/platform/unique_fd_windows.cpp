// Sole owner of a Winsock socket: closes it exactly once with closesocket.
#include "platform/unique_fd.h"

#include <utility>

#include "platform/win_sockets.h"

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
    return std::exchange(fd_, NO_DESCRIPTOR);
}

void UniqueFd::reset(Descriptor fd)
{
    const Descriptor old = std::exchange(fd_, fd);
    if (isDescriptor(old) && old != fd) {
        ::closesocket(static_cast<SOCKET>(old));
    }
}

} // namespace HX_PLATFORM
