// Download request: the download settings that ask a camera for a range of recorded frames.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::common {

// `current` asking for frames from..to in `format`, with the throttle set for `buffers` lent
// buffers; the packet length, delay and JPEG quality stay as they are.
HX_DOWNLOAD_SETTINGS downloadRequest(const HX_DOWNLOAD_SETTINGS& current, uint32_t from, uint32_t to, uint32_t format,
                                     uint32_t buffers);

} // namespace halvex::common
