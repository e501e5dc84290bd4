// Private-network check for the stand-in camera.
#include "sim/net/host_network.h"

#include <sys/stat.h>

#include <cstdlib>

#include <fmt/format.h>

namespace hxsim {

// scripts/in-netns exports the inode of the namespace it made. Otherwise the namespace of
// process 1 is the host's; when it cannot be looked at, the answer is the safe one: not private.
bool inPrivateNetwork()
{
    struct stat self {};
    if (::stat("/proc/self/ns/net", &self) != 0) {
        return false;
    }
    if (const char* made = std::getenv("HX_NETNS_INODE"); made != nullptr) {
        return std::strtoull(made, nullptr, 10) == self.st_ino;
    }
    struct stat first {};
    if (::stat("/proc/1/ns/net", &first) != 0) {
        return false;
    }
    return self.st_ino != first.st_ino || self.st_dev != first.st_dev;
}

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
