// A UDP endpoint as the stand-in camera sees it: IPv4 address and port in host order.
#pragma once

#include <cstdint>
#include <string>

namespace hxsim {

struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

std::string toString(const Endpoint& endpoint);

} // namespace hxsim
