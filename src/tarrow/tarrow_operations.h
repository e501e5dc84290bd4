// Tarrow operations: the first camera family, the register-based family as it is, with no lens,
// temperatures, camera save or media of its own.
#pragma once

#include <cstdint>
#include <memory>

#include <hlv_thread/log_label.h>

#include "family/family_operations.h"

namespace halvex::tarrow {

// Whole frame rates, images over UDP, the play mode in the playback control register, and no
// shown-frame polling during playback.
// Threads: as FamilyOperations.
class TarrowOperations : public family::FamilyOperations {
    HLV_LOG_CLASS(TarrowOperations);

public:
    TarrowOperations(uint32_t address, std::shared_ptr<control::RegisterChannel> channel,
                     std::unique_ptr<sensors::SensorOperations> sensor);
    ~TarrowOperations() override;

    // What the family lacks: each throws RuntimeError, except getTemperature, which logs and
    // returns false.
    void getCameraMedia(char* jsonData, uint32_t* jsonLength) override;
    void startCameraSave(const char* json) override;
    void getLensStatus(HX_LENS_STATUS* out) override;
    void setLensSettings(HX_LENS_SETTINGS* in) override;
    bool getTemperature(HX_TEMPERATURE* out) override;
};

} // namespace halvex::tarrow
