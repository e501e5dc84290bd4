// Family commands: a register-based family's camera state (arm, trigger and the other state
// commands) and its in-camera playback, read through the state and playback groups' caches.
#pragma once

#include <cstdint>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/family_camera.h"
#include "registers/register_cache.h"

namespace halvex::family {

class FamilyProgress;
class FamilyStreaming;
namespace pollers {
class PollerControl;
}

// Threads: the service thread (commands and playback settings go through it), except the
// getters, which API callers' threads may run too; the compute operations with the state mutex held.
class FamilyCommands {
    HLV_LOG_CLASS(FamilyCommands);

public:
    FamilyCommands(FamilyCamera& camera, FamilyStreaming& streaming, FamilyProgress& progress,
                   pollers::PollerControl& pollers);

    // Reads the camera state into the record (null: refreshes only).
    void getCommand(HX_COMMAND* out);
    // Applies the command in the record, then reads the state back into it.
    void sendCommand(HX_COMMAND* inOut);
    void getPlaybackSettings(HX_PLAYBACK_SETTINGS* out);
    // Starts, steps or stops playback as the record asks, confirms it, and sends the outcome to
    // the subscribers as a playback change.
    void setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut);
    // Recompute the cached command and playback records from their groups. State mutex held.
    void computeStateLocked();
    void computePlaybackLocked();

private:
    void refreshStateGroup();
    uint32_t cachedStreamControl() const;
    void stepWhenStopped(const char* method);
    wire::RegisterPairs playbackWrites(HX_PLAYBACK_SETTINGS& record, bool& step);
    bool writePlayback(const wire::RegisterPairs& writes);
    void verifyPlayback(bool step, uint32_t frame);

    FamilyCamera& camera_;
    FamilyStreaming& streaming_;
    FamilyProgress& progress_;
    pollers::PollerControl& pollers_;
};

} // namespace halvex::family
