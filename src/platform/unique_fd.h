// Sole owner of a descriptor (a POSIX file descriptor, a socket handle on Windows): closes it
// exactly once.
#pragma once

#include <cstdint>

namespace halvex::platform {

#if defined(_WIN32)

// A Winsock SOCKET; INVALID_SOCKET is all ones.
using Descriptor = std::uintptr_t;
inline constexpr Descriptor NO_DESCRIPTOR = ~Descriptor{0};
inline constexpr bool isDescriptor(Descriptor fd)
{
    return fd != NO_DESCRIPTOR;
}

#else

using Descriptor = int;
inline constexpr Descriptor NO_DESCRIPTOR = -1;
inline constexpr bool isDescriptor(Descriptor fd)
{
    return fd >= 0;
}

#endif

// Move-only. A default-constructed or moved-from owner holds NO_DESCRIPTOR and closes nothing.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(Descriptor fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    Descriptor get() const { return fd_; }
    bool valid() const { return isDescriptor(fd_); }
    explicit operator bool() const { return valid(); }
    // Gives up ownership without closing.
    Descriptor release();
    // Closes the current descriptor, if any, and owns `fd` instead.
    void reset(Descriptor fd = NO_DESCRIPTOR);

private:
    Descriptor fd_ = NO_DESCRIPTOR;
};

} // namespace halvex::platform
