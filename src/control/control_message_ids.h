// The messages a camera's control channel sends up to the camera's service thread.
#pragma once

#include <cstdint>

namespace halvex::message_ids {

enum : uint32_t {
    // An event datagram's changed registers (control/hx_notification.h).
    NOTIFICATION_MSG = 0x3000A,
    // The camera answers again after it was lost or silent past a time-out (no payload).
    CAMERA_RETURNED_MSG = 0x3000C,
    // The camera answers again after fewer time-outs than make an absence: it may have restarted
    // meanwhile, which its message channel tells (no payload).
    CAMERA_ANSWERS_AFTER_TIME_OUT_MSG = 0x3000D,
};

} // namespace halvex::message_ids
