// The messages a camera's service thread takes: subscriptions, settings and commands, and the host's stream buffers.
#pragma once

#include <cstdint>

namespace halvex::message_ids {

enum : uint32_t {
    CAM_SUBSCRIBE_MSG = 0x30003,
    CAM_SETTINGS_MSG = 0x30004,
    // The stream kinds: a stream buffer's identifier says which stream it is lent to, on its way
    // through the service thread, the receiver and the Callback thread.
    DOWNLOAD_STREAM_MSG = 0x30007,
    PLAYBACK_STREAM_MSG = 0x30008,
    LIVE_STREAM_MSG = 0x30009,
};

} // namespace halvex::message_ids
