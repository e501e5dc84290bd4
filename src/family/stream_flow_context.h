// What the live, playback and download flows of one camera share: the camera, its channel and
// stream session, the hooks into the family object, and the stream mode last written.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "packing/hx_internal.h"
#include "registers/register_map.h"

namespace halvex::stream {
class HxStreamOperations;
} // namespace halvex::stream

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::family {

// What the flows need from the family object they serve. Empty hooks do nothing (the UDP
// receiver is assumed when streamsOverUdp is empty).
struct StreamFlowHooks {
    std::function<void()> startHeartBeat;
    std::function<void()> stopHeartBeat;
    // True for cameras whose images arrive over UDP, false for TCP.
    std::function<bool()> streamsOverUdp;
    // Size and bit mode of the frames the camera records, for packing format-11 downloads.
    std::function<packing::PackingImage()> packingImage;
};

// Built by FamilyStreaming, which outlives the flows holding it; the channel and the stream
// session belong to the family object and outlive both. Every flow runs under FamilyStreaming's
// flow lock, so only the stream mode, which any thread may read, is atomic.
struct StreamFlowContext {
    const uint32_t address;
    const std::string name;
    control::RegisterChannel& channel;
    stream::HxStreamOperations& streamOps;
    const StreamFlowHooks hooks;
    // The value the flows last wrote to the camera's stream control register.
    std::atomic<uint32_t> writtenStreamControl{registers::STREAM_CONTROL_STOP};
};

} // namespace halvex::family
