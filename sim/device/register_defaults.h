// The register file a camera powers up with, for its family, sensor and memory.
#pragma once

#include "sim/device/camera_config.h"
#include "sim/registers/register_file.h"

namespace hxsim {

// Every register the camera has, with consistent, non-zero imaging values: the full sensor as
// ROI, a frame rate just below the sensor's maximum for it, and the whole image memory as the
// recording area. Second-family cameras also have their save and JSON channel registers.
RegisterFile defaultRegisters(const CameraConfig& config);

} // namespace hxsim
