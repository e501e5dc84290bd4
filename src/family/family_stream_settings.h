// Family stream settings: the interpacket delay and JPEG quality of the camera's image stream, read
// through the stream group's cache and written as asked.
#pragma once

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/family_camera.h"

namespace halvex::family {

// Threads: the getter on API callers' threads or the service thread; the setter where the services
// call it (see ServiceOperations); computeLocked wherever the state mutex is held.
class FamilyStreamSettings {
    HLV_LOG_CLASS(FamilyStreamSettings);

public:
    explicit FamilyStreamSettings(FamilyCamera& camera);

    // The cached record, read afresh unless subscriptions keep it current; null refreshes only.
    void getStreamSettings(HX_STREAM_SETTINGS* out);
    // Validates and writes what the record asks, then merges what the camera holds into it.
    void setStreamSettings(HX_STREAM_SETTINGS* inOut);
    // Recomputes the cached record from its register group. State mutex held.
    void computeStreamLocked();

private:
    FamilyCamera& camera_;
};

} // namespace halvex::family
