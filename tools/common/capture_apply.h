// Capture apply: writes a capture settings request to a camera in the order the camera needs.
#pragma once

#include <hx/hx.h>

namespace halvex::common {

// Applies the request. Exposures depend on the frame period, so when the request also changes the
// frame rate or the region, those go first and the exposures follow in a second call. `after`
// holds the outcome of both; false when the library could not make a call.
bool applyCapture(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const HX_CAPTURE_SETTINGS& request,
                  HX_CAPTURE_SETTINGS& after);

} // namespace halvex::common
