// The system's socket address for an endpoint as the library keeps it, and back.
#pragma once

#if defined(_WIN32)
#  include "platform/win_sockets.h"
#else
#  include <netinet/in.h>
#endif

#include "platform/ipv4_endpoint.h"

namespace halvex::platform {

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint);
Ipv4Endpoint fromSockaddr(const sockaddr_in& address);

} // namespace halvex::platform
