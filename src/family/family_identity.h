// Family identity: a register-based family's camera information (identity texts and the adapter
// that reaches it), battery, and the exclusive control privilege.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/family_camera.h"

namespace halvex::family {

namespace pollers {
class PollerControl;
}

// Threads: API callers' threads. The identity texts are guarded by the state mutex.
class FamilyIdentity {
    HLV_LOG_CLASS(FamilyIdentity);

public:
    // Reads each address of the texts as a default-length memory block; false on failure.
    using TextRefresh = std::function<bool(std::map<uint32_t, std::string>& texts, uint8_t* counter)>;

    FamilyIdentity(FamilyCamera& camera, pollers::PollerControl& pollers, TextRefresh refreshTexts);

    void getBatteryInfo(HX_BATTERY_INFO* out);
    // Reads the identity texts afresh and fills the record (null: refreshes only).
    void getCameraInformation(HX_CAMERA_INFORMATION* out);
    // Takes (gives back) the exclusive control privilege; true when the camera took the write.
    bool lockCamera();
    bool unlockCamera();
    // The version text as last read with the identity texts; empty until they are read.
    std::string deviceVersion();

private:
    std::string text(uint32_t address) const;

    FamilyCamera& camera_;
    pollers::PollerControl& pollers_;
    const TextRefresh refreshTexts_;
    std::map<uint32_t, std::string> texts_;
    uint8_t textCounter_ = 0;
};

} // namespace halvex::family
