// Family download settings: which recorded frames to download and in what format, read through the
// download group's cache and the camera's stream session, and written after validation.
#pragma once

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/family_camera.h"

namespace halvex::family {

// Threads: the getter on API callers' threads or the service thread; the setter where the services
// call it (see ServiceOperations); computeLocked wherever the state mutex is held.
class FamilyDownloadSettings {
    HLV_LOG_CLASS(FamilyDownloadSettings);

public:
    explicit FamilyDownloadSettings(FamilyCamera& camera);

    // The cached record, read afresh unless subscriptions keep it current; null refreshes only.
    void getDownloadSettings(HX_DOWNLOAD_SETTINGS* out);
    // Validates and writes what the record asks, then merges what the camera holds into it.
    void setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut);
    // Recomputes the cached record from its register group. State mutex held.
    void computeDownloadLocked();

private:
    FamilyCamera& camera_;
};

} // namespace halvex::family
