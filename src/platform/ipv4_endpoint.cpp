// IPv4 addresses and ports as the library keeps them, and their text through the system's
// conversions.
#include "platform/ipv4_endpoint.h"

#if defined(_WIN32)
#  include "platform/win_sockets.h"
#else
#  include <arpa/inet.h>
#endif

namespace halvex::platform {

std::string ipv4ToText(uint32_t networkOrderAddress)
{
    in_addr address{};
    address.s_addr = networkOrderAddress;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        return "?";
    }
    return text;
}

std::optional<uint32_t> ipv4FromText(std::string_view text)
{
    // inet_pton needs a NUL-terminated string; a longer text cannot be an address anyway.
    if (text.empty() || text.size() >= INET_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    in_addr address{};
    if (::inet_pton(AF_INET, terminated.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address.s_addr;
}

uint32_t hostToNetwork(uint32_t hostOrderAddress)
{
    return htonl(hostOrderAddress);
}

uint32_t networkToHost(uint32_t networkOrderAddress)
{
    return ntohl(networkOrderAddress);
}

std::string toString(const Ipv4Endpoint& endpoint)
{
    return ipv4ToText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

} // namespace halvex::platform
