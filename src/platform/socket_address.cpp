// The system's socket address for an endpoint as the library keeps it, and back.
#include "platform/socket_address.h"

#if !defined(_WIN32)
#  include <arpa/inet.h>
#endif

namespace halvex::platform {

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = endpoint.address;
    address.sin_port = htons(endpoint.port);
    return address;
}

Ipv4Endpoint fromSockaddr(const sockaddr_in& address)
{
    return {address.sin_addr.s_addr, ntohs(address.sin_port)};
}

} // namespace halvex::platform
