// Scenario files: several cameras with their own settings and faults, as JSON.
#pragma once

#include <string>
#include <vector>

#include "sim/device/camera_config.h"

namespace hxsim {

// Reads a scenario over `base` (the command line's settings):
//   { "defaults": { SETTINGS }, "cameras": N or [ { SETTINGS }, ... ] }
// SETTINGS take the command-line names with '_' or '-' ("model", "sensor", "memory",
// "firmware", "name", "serial", "address", "netmask", "seed", "time_scale", "broadcast") and
// "faults": { "mute", "vanish_at", "vanish_for", "wrong_manufacturer", "old_firmware",
// "control" | "events" | "discovery" | "all": { "drop": P, ..., "delay_min_ms": MS } }.
// Cameras are numbered from the base address and name as with --cameras; each entry's
// settings then apply on top. Returns an empty text on success, else what is wrong (unknown
// keys included, so typing errors do not pass silently).
std::string parseScenario(const std::string& text, const CameraConfig& base, std::vector<CameraConfig>& cameras);
std::string loadScenario(const std::string& path, const CameraConfig& base, std::vector<CameraConfig>& cameras);

} // namespace hxsim
