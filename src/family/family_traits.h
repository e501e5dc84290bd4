// Family traits: what sets one register-based camera family apart from another, as values the
// shared family code consults instead of hooks a family overrides.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "family/capture.h"
#include "family/commands.h"
#include "registers/register_map.h"

namespace halvex::family {

struct FamilyTraits {
    // How the cameras hold frame rates: whole frames per second, or fractions as well.
    capture::RateEncoding rates = capture::RateEncoding::WholeFrames;
    // True when the images arrive over UDP, false over a TCP connection to the camera.
    bool streamsOverUdp = true;
    // Which register tells the play mode.
    commands::PlaybackModeSource playModeSource = commands::PlaybackModeSource::Control;
    // Whether the progress poller follows the shown frame while the camera plays a recording. A
    // family that does not is never polled during playback: such a poller would read the camera
    // every 100 ms whether anybody listens or not.
    bool pollsShownFrame = false;
    // Registers of the family's own kept current with the shared groups (group, address).
    std::vector<std::pair<registers::RegisterGroup, uint32_t>> groupRegisters{};
};

} // namespace halvex::family
