// Family stream settings: the interpacket delay and JPEG quality of the camera's image stream,
// computed from the stream group and merged into a caller's record.
#include "family/stream_settings.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/download_settings.h"
#include "family/merge.h"
#include "registers/register_map.h"

namespace halvex::family {

using namespace registers;

namespace {

constexpr uint32_t JPEG_QUALITY_MIN = 1;
constexpr uint32_t JPEG_QUALITY_MAX = 100;

} // namespace

namespace stream_settings {

void computeStream(const RegisterCache& stream, uint32_t packetDelay, HX_STREAM_SETTINGS& cached)
{
    cached.interpacket_delay = packetDelay;
    cached.jpeg_quality = cachedValue(stream, GIGE_REG_DOWNLOAD_C0AC);
    cached.jpeg_quality_min = JPEG_QUALITY_MIN;
    cached.jpeg_quality_max = JPEG_QUALITY_MAX;
}

void mergeStream(const HX_STREAM_SETTINGS& cached, HX_STREAM_SETTINGS& caller)
{
    using R = HX_STREAM_SETTINGS;
    family::merge::mergeGroup(cached, caller, {&R::interpacket_delay}, {&R::interpacket_delay_flags, &R::flags});
    family::merge::mergeGroup(cached, caller, {&R::jpeg_quality, &R::jpeg_quality_min, &R::jpeg_quality_max},
                              {&R::jpeg_quality_flags, &R::flags});
}

} // namespace stream_settings

} // namespace halvex::family
