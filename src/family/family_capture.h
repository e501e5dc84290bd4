// Family capture: a register-based family's capture settings and analog gain, read through the
// sensor and capture groups' caches, validated and written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/capture.h"
#include "family/family_camera.h"

namespace halvex::family {

class FamilyIdentity;
class FamilyStreaming;

// Threads: API callers' threads; the compute operations and implausibleLocked with the state
// mutex held. Setters of one camera are serialised by the settings mutex.
class FamilyCapture {
    HLV_LOG_CLASS(FamilyCapture);

public:
    FamilyCapture(FamilyCamera& camera, FamilyStreaming& streaming, FamilyIdentity& identity);

    void getCaptureSettings(HX_CAPTURE_SETTINGS* out);
    // Validates against the camera's current values, writes what was accepted in one exchange,
    // and hands back what the camera holds afterwards.
    void setCaptureSettings(HX_CAPTURE_SETTINGS* inOut);
    void getAnalogGain(HX_ANALOG_GAIN* out);
    void setAnalogGain(HX_ANALOG_GAIN* in);
    // Reads the capture groups until they give a record some camera could hold; throws when the
    // camera does not answer or its values stay implausible.
    void readCapture();
    // Recompute the cached capture record and analog gain from the groups. State mutex held.
    void computeCaptureLocked();
    void computeAnalogGainLocked();
    // Why the cached capture record holds values no camera could, or empty. State mutex held.
    std::string implausibleLocked() const;

private:
    void refreshCaptureGroups();
    void readCaptureForValidation();
    void applyCaptureWrites(const capture::CaptureWrites& writes);
    void confirmCaptureWrites(const wire::RegisterPairs& written);
    std::optional<uint32_t> cachedCaptureRegister(uint32_t reg) const;
    void mergeCameraCapture(HX_CAPTURE_SETTINGS& record);

    FamilyCamera& camera_;
    FamilyStreaming& streaming_;
    FamilyIdentity& identity_;
};

} // namespace halvex::family
