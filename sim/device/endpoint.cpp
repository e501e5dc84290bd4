// Text form of an endpoint for log lines.
#include "sim/device/endpoint.h"

#include <fmt/format.h>

#include "sim/device/camera_config.h"

namespace hxsim {

std::string toString(const Endpoint& endpoint)
{
    return fmt::format("{}:{}", dotted(endpoint.address), endpoint.port);
}

} // namespace hxsim
