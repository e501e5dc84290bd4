// The message other components post to the Discovery thread.
#pragma once

#include <cstdint>

namespace halvex::message_ids {

enum : uint32_t {
    // A camera whose image connection was lost for good (discovery::DiscoveryRemoveCamera).
    DISCOVERY_REMOVE_CAMERA_MSG = 0x30006,
};

} // namespace halvex::message_ids
