// Family stream settings: the computation and merge of HX_STREAM_SETTINGS from the stream
// register group.
#pragma once

#include <cstdint>

#include <hx/hx.h>

#include "registers/register_cache.h"

namespace halvex::family::stream_settings {

// Fills the cached record: the packet delay the camera holds (`packetDelay`, from the stream
// session) and the JPEG quality with its limits.
void computeStream(const registers::RegisterCache& stream, uint32_t packetDelay, HX_STREAM_SETTINGS& cached);
// Copies the delay, and the JPEG quality with its limits, where they differ from the cache,
// marking the field and the record HX_FLAG_CHG.
void mergeStream(const HX_STREAM_SETTINGS& cached, HX_STREAM_SETTINGS& caller);

} // namespace halvex::family::stream_settings
