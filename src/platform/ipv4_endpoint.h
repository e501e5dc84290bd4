// IPv4 addresses and ports as the library keeps them, and their text. Free of system headers, so
// the portable halves of components can use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halvex::platform {

// An address in network order (its bytes in memory are the address, as in sockaddr_in) and a
// port in host order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Ipv4Endpoint&) const = default;
};

// Dotted text of a network-order address ("127.0.0.2").
std::string ipv4ToText(uint32_t networkOrderAddress);
// The network-order address of dotted text; nullopt unless it is exactly four decimal parts.
std::optional<uint32_t> ipv4FromText(std::string_view text);

// An address turned between host and network order.
uint32_t hostToNetwork(uint32_t hostOrderAddress);
uint32_t networkToHost(uint32_t networkOrderAddress);

// "address:port".
std::string toString(const Ipv4Endpoint& endpoint);

} // namespace halvex::platform
