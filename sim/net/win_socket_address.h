// What the stand-in camera's Winsock halves share: a platform descriptor as a SOCKET, and an
// address with its port as a sockaddr_in. Included only by *_windows.cpp files.
#pragma once

#if !defined(_WIN32)
#  error "sim/net/win_socket_address.h is for the Windows halves only"
#endif

#include <cstdint>

#include "platform/unique_fd.h"
#include "platform/win_sockets.h"

namespace hxsim::winsock {

inline SOCKET handle(halvex::platform::Descriptor descriptor)
{
    return static_cast<SOCKET>(descriptor);
}

inline sockaddr_in toSockaddr(uint32_t hostOrderAddress, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

} // namespace hxsim::winsock
