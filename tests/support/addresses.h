// IPv4 addresses as the library keeps them (network byte order) and as a camera's datagrams carry them.
#pragma once

#include <arpa/inet.h>

#include <cstdint>

#include "platform/ipv4_endpoint.h"

namespace hx_test {

// A dotted address in network byte order, as the library keeps camera addresses.
inline uint32_t ip(const char* text)
{
    return inet_addr(text);
}

// Where a camera's control datagrams come from: its address and the control port 3956.
inline halvex::platform::Ipv4Endpoint cameraSource(const char* address)
{
    return {ip(address), 3956};
}

} // namespace hx_test
