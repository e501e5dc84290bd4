// Datagrams typed by hand in tests: big-endian field writers and dotted addresses.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <vector>

namespace hx_test {

inline void put8(std::vector<uint8_t>& out, uint8_t value)
{
    out.push_back(value);
}

inline void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

inline void put32(std::vector<uint8_t>& out, uint32_t value)
{
    put16(out, uint16_t(value >> 16));
    put16(out, uint16_t(value));
}

// A dotted address in network byte order (0 for a text that is not one).
inline uint32_t ipv4(const char* dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

} // namespace hx_test
