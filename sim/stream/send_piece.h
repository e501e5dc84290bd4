// One piece of bytes that a send gathers with others into a datagram or into a stream write.
#pragma once

#include <cstddef>

#if defined(_WIN32)
namespace hxsim {
// The halves turn these into the system's own buffer lists (WSABUF) as they send.
struct SendPiece {
    void* iov_base;
    std::size_t iov_len;
};
} // namespace hxsim
#else
#  include <sys/uio.h>
namespace hxsim {
// The system's own gather entry, so that sendmmsg and sendmsg take the pieces as they are.
using SendPiece = ::iovec;
} // namespace hxsim
#endif
