// Family input/output settings: the trigger, sync and arm signals of a register-based family's camera, read
// through the IO group's cache and written after validation.
#pragma once

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/family_camera.h"

namespace halvex::family {

// Threads: the getter on API callers' threads or the service thread; the setter where the services
// call it (see ServiceOperations); computeLocked wherever the state mutex is held.
class FamilyIoSettings {
    HLV_LOG_CLASS(FamilyIoSettings);

public:
    explicit FamilyIoSettings(FamilyCamera& camera);

    // The cached record, read afresh unless subscriptions keep it current; null refreshes only.
    void getExternalIOSettings(HX_IO_SETTINGS* out);
    // Validates and writes what the record asks, then merges what the camera holds into it.
    void setExternalIOSettings(HX_IO_SETTINGS* inOut);
    // Recomputes the cached record from its register group. State mutex held.
    void computeIoLocked();

private:
    FamilyCamera& camera_;
};

} // namespace halvex::family
