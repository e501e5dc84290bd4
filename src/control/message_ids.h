// The library's message identifiers: the ones that cross between components, and where private ones start.
#pragma once

#include <cstdint>

#include "hlv_thread/message.h"

// Identifiers from 0x30000 to 0x3FFFF cross between components; from INTERNAL_START on they are
// private to one thread class, so the same value means different things in different classes.
namespace HX_MESSAGE_IDS {

enum : uint32_t {
    CALLBACK_EVENT_MSG = 0x30000,
    CALLBACK_REGISTER_MSG = 0x30001,
    CALLBACK_SUBSCRIBE_MSG = 0x30002,
    CAM_SUBSCRIBE_MSG = 0x30003,
    CAM_SETTINGS_MSG = 0x30004,
    DISCOVERY_REMOVE_CAMERA_MSG = 0x30006,
    DOWNLOAD_STREAM_MSG = 0x30007,
    PLAYBACK_STREAM_MSG = 0x30008,
    LIVE_STREAM_MSG = 0x30009,
    NOTIFICATION_MSG = 0x3000A,
    STREAM_CONTROL_MSG = 0x3000B,
    // The camera answers again after it was lost or silent past a time-out (no payload).
    CAMERA_RETURNED_MSG = 0x3000C,
    // The camera answers again after fewer time-outs than make an absence: it may have restarted
    // meanwhile, which its message channel tells (no payload).
    CAMERA_ANSWERS_AFTER_TIME_OUT_MSG = 0x3000D,
    INTERNAL_START = 0x40000,
};

} // namespace HX_MESSAGE_IDS
