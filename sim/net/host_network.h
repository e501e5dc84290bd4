// Keeps the stand-in camera off the host's real network.
#pragma once

#include <string>
#include <vector>

#include "sim/device/camera_config.h"

namespace hxsim {

// True when this process runs in a private network namespace: the one scripts/in-netns made, or
// one other than that of process 1.
bool inPrivateNetwork();

// Empty when the cameras may start here, else why not: on the host's own network only
// loopback addresses are allowed, and no camera may listen on the wildcard address.
std::string checkNetworkSafety(const std::vector<CameraConfig>& cameras, bool privateNetwork);

} // namespace hxsim
