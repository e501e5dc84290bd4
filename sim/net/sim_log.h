// Log lines of the stand-in camera: one line per event, with a time stamp and the camera.
#pragma once

#include <string>

#include "sim/device/camera_device.h"

namespace hxsim {

// Writes "HH:MM:SS.uuuuuu hxsim <prefix>: <line>" to standard error; safe from any thread.
Logger stderrLogger();
// Passes lines to `sink` with "<prefix>: " in front; an empty sink gives an empty logger.
Logger prefixed(Logger sink, const std::string& prefix);

} // namespace hxsim
