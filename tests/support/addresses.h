// IPv4 addresses as the library keeps them (network byte order) and as a camera's datagrams carry them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace hx_test {

// A dotted address in network byte order, as the library keeps camera addresses.
inline uint32_t ip(const char* text) { return inet_addr(text); }

// Where a camera's control datagrams come from: its address and the control port 3956.
inline sockaddr_in cameraSource(const char* address)
{
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(3956);
    source.sin_addr.s_addr = ip(address);
    return source;
}

} // namespace hx_test
