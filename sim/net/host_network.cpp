// Which cameras may start on the network this process runs on.
#include "sim/net/host_network.h"

#include <fmt/format.h>

namespace hxsim {

std::string checkNetworkSafety(const std::vector<CameraConfig>& cameras, bool privateNetwork)
{
    if (privateNetwork) {
        return {};
    }
    for (const CameraConfig& camera : cameras) {
        if ((camera.address >> 24) != 127) {
            return fmt::format("camera address {} is not on loopback and this is the host's network; run hxsim "
                               "inside scripts/in-netns, or use 127.x.y.z addresses",
                               dotted(camera.address));
        }
        if (camera.hearBroadcast) {
            return "listening for broadcast discovery binds the wildcard address; do that only inside "
                   "scripts/in-netns";
        }
    }
    return {};
}

} // namespace hxsim
