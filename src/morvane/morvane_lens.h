// Morvane lens and temperatures: the lens status, information and settings texts and the
// camera's temperature text, exchanged through memory registers.
#pragma once

#include <mutex>
#include <string>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "control/register_channel.h"

namespace halvex::morvane {

// The channel and camera name belong to the camera's operations object, which outlives this.
// Threads: API callers' threads and the service thread (a lens change event reads the status).
class MorvaneLens {
    HLV_LOG_CLASS(MorvaneLens);

public:
    MorvaneLens(control::RegisterChannel& channel, const std::string& cameraName);

    // Reads the lens status and then the lens information into the record; throws when either
    // cannot be read (the record's status word then has HX_FLAG_ERR).
    void getLensStatus(HX_LENS_STATUS* out);
    // The lens information part of the record (name, focal lengths, zoom divisions, ez flag).
    void getLensInfo(HX_LENS_STATUS* out);
    void setLensSettings(HX_LENS_SETTINGS* in);
    // True when the temperatures were read.
    bool getTemperature(HX_TEMPERATURE* out);

private:
    void readLensStatus(HX_LENS_STATUS& record);

    control::RegisterChannel& channel_;
    const std::string& name_;
    std::mutex lock_;
    // The last lens status read, for diagnostics.
    HX_LENS_STATUS lensStatus_{};
};

} // namespace halvex::morvane
