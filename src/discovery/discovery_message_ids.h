// The message other components post to the Discovery thread.
#pragma once

#include <cstdint>

namespace HX_MESSAGE_IDS {

enum : uint32_t {
    // A camera whose image connection was lost for good (HLV_DISCOVERY::DiscoveryRemoveCamera).
    DISCOVERY_REMOVE_CAMERA_MSG = 0x30006,
};

} // namespace HX_MESSAGE_IDS
