// Cached records: a camera's public records as the library last computed them, each with its
// trust mark (non-zero while subscriptions keep it current).
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::camera {

// Guarded by the owning operations object's state mutex.
struct CachedRecords {
    uint32_t cameraInformationValid = 0;
    HX_CAMERA_INFORMATION cameraInformation{};
    uint32_t analogGainValid = 0;
    HX_ANALOG_GAIN analogGain{};
    uint32_t captureSettingsValid = 0;
    HX_CAPTURE_SETTINGS captureSettings{};
    uint32_t downloadSettingsValid = 0;
    HX_DOWNLOAD_SETTINGS downloadSettings{};
    uint32_t ioSettingsValid = 0;
    HX_IO_SETTINGS ioSettings{};
    uint32_t playbackSettingsValid = 0;
    HX_PLAYBACK_SETTINGS playbackSettings{};
    uint8_t streamSettingsValid = 0;
    HX_STREAM_SETTINGS streamSettings{};
    uint8_t progressValid = 0;
    HX_PROGRESS progress{};
    uint32_t commandValid = 0;
    HX_COMMAND command{};
    uint32_t streamState = 1;
};

} // namespace halvex::camera
