// The messages the Callback thread takes, and the stream control message that drives a receiver.
#pragma once

#include <cstdint>

namespace halvex::message_ids {

enum : uint32_t {
    CALLBACK_EVENT_MSG = 0x30000,
    CALLBACK_REGISTER_MSG = 0x30001,
    CALLBACK_SUBSCRIBE_MSG = 0x30002,
    // Defined here beside the stream buffer (callback/hx_stream.h), whose receivers it commands.
    STREAM_CONTROL_MSG = 0x3000B,
};

} // namespace halvex::message_ids
