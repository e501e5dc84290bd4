// Family progress: a recording's (or playback's) progress record, and the progress poller that
// reads it while the camera does not report it by events.
#pragma once

#include <cstdint>

#include <hx/hx.h>

#include "family/family_camera.h"

namespace halvex::family {

class FamilyRecordsTable;
namespace pollers {
class PollerControl;
}

// Threads: checkProgressPoller on the service thread or an API caller's; the compute operation
// with the state mutex held; the rest from any thread.
class FamilyProgress {
public:
    FamilyProgress(FamilyCamera& camera, pollers::PollerControl& pollers, FamilyRecordsTable& records);

    // Recomputes the cached progress from the progress and state groups. State mutex held.
    void computeProgressLocked();
    // The cached progress record, and one a family computed itself (trusted from then).
    HX_PROGRESS cachedProgress() const;
    void storeProgress(const HX_PROGRESS& record);
    // Starts, retunes or stops the progress poller for the camera state and play mode now; when
    // a recording's poller stops, subscribers get its final progress.
    void checkProgressPoller();

private:
    // The play mode the camera was last seen in (HX_PLAY_*).
    uint32_t playMode() const;
    // The play mode the poller is told: pause for a family that does not poll the shown frame.
    uint32_t progressPlayMode() const;
    void postFinalProgress();

    FamilyCamera& camera_;
    pollers::PollerControl& pollers_;
    FamilyRecordsTable& records_;
    // The camera state the progress computation saw last (state mutex).
    uint32_t progressState_ = 0;
};

} // namespace halvex::family
