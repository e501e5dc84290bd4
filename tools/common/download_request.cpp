// Download request, shared by hxcam and hxview.
#include "download_request.h"

#include <algorithm>

namespace halvex::common {

// The throttle pauses the camera when a quarter of the lent buffers is left and resumes it once
// half of them are back: a camera at 10 Gbit/s fills a buffer in well under a millisecond, so a
// pause asked for at the last buffer arrives too late on a busy host and images are lost.
HX_DOWNLOAD_SETTINGS downloadRequest(const HX_DOWNLOAD_SETTINGS& current, uint32_t from, uint32_t to, uint32_t format,
                                     uint32_t buffers)
{
    HX_DOWNLOAD_SETTINGS request = current;
    request.flags = HX_FLAG_SET;
    request.start = from;
    request.start_flags = HX_FLAG_SET;
    request.stop = to;
    request.stop_flags = HX_FLAG_SET;
    request.format = format;
    request.format_flags = HX_FLAG_SET;
    request.rate_control_flags = HX_FLAG_SET;
    request.pause_count = std::max<uint32_t>(1, buffers / 4);
    request.resume_count = std::max<uint32_t>(request.pause_count + 1, buffers / 2);
    request.turbo_packet_length_flags = 0;
    request.turbo_delay_flags = 0;
    request.jpeg_quality_flags = 0;
    return request;
}

} // namespace halvex::common
