// What the streaming side of a camera reads from its registers and image memory.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/device/endpoint.h"
#include "sim/frames/frame_store.h"
#include "sim/registers/capture_rules.h"

namespace hxsim {

class CameraDevice;

// A copy taken on the camera's thread after each request, so the streaming thread never reads
// the camera's registers itself.
struct StreamSettings {
    uint32_t streamControl = 0; // 0 stop, 1 live, 2 play, 3 download, 4 show, 16 pause, 32 resume
    Endpoint destination;       // stream channel address and port (UDP; the port also enables TCP)
    uint32_t packetSize = 1500; // low 16 bits of the packet size register
    uint32_t packetDelayMicros = 0;
    uint32_t firstFrame = 0; // download or playback range
    uint32_t lastFrame = 0;
    uint32_t currentFrame = 0;   // where playback starts; the frame shown
    uint32_t playbackStep = 1;   // frames per step, bit 31 reverse
    uint32_t playbackRate = 0;   // steps per second, 0 means 25
    uint32_t liveFrameRate = 24; // whole frames per second
    FrameGeometry liveGeometry;
    std::optional<Recording> recording; // present in review
    bool silent = false;                // a mute or vanished camera sends nothing

    uint32_t recordingSerial() const { return recording ? recording->serial : 0; }
};

StreamSettings readStreamSettings(const CameraDevice& device, const CaptureRules& rules);

// True when the streaming thread must look at once: the channel, the mode or the recording moved.
bool needsAttention(const StreamSettings& before, const StreamSettings& after);

} // namespace hxsim
