// Capture apply, shared by hxcam and hxview.
#include "capture_apply.h"

#include "capture_fields.h"

namespace halvex::common {

bool applyCapture(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const HX_CAPTURE_SETTINGS& request,
                  HX_CAPTURE_SETTINGS& after)
{
    HX_CAPTURE_SETTINGS first = request;
    HX_CAPTURE_SETTINGS exposure;
    const bool twoSteps = split(first, exposure);
    if (HX_setup_capture_syn(client, camera, &first, &after) != HX_STATUS_OK) {
        return false;
    }
    if (!twoSteps) {
        return true;
    }
    const HX_CAPTURE_SETTINGS firstResult = after;
    HX_CAPTURE_SETTINGS second = after;
    second.sensor_group_flags &= ~uint32_t{HX_FLAG_SET};
    second.record_group_flags &= ~uint32_t{HX_FLAG_SET};
    second.exposure_group_flags = exposure.exposure_group_flags;
    second.exposure_flags = exposure.exposure_flags;
    second.exposure = exposure.exposure;
    second.low_light_flags = exposure.low_light_flags;
    second.low_light = exposure.low_light;
    if (HX_setup_capture_syn(client, camera, &second, &after) != HX_STATUS_OK) {
        return false;
    }
    keepOutcome(firstResult, after);
    return true;
}

} // namespace halvex::common
