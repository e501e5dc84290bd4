// Family download settings: the format codes, and the record computed from the download group
// and the stream session and merged into a caller's.
#include "family/download_settings.h"

#include <algorithm>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/commands.h"
#include "family/merge.h"
#include "registers/register_map.h"

namespace halvex::family {

using thread::SettingsException;

using namespace registers;
using merge::mergeGroup;

namespace {

constexpr uint32_t PACKET_LENGTH_MASK = 0x3FFFFFFF;
constexpr uint32_t JPEG_QUALITY_MIN = 1;
constexpr uint32_t JPEG_QUALITY_MAX = 100;
// The camera's download format codes.
constexpr uint32_t CODE_JPEG = 1;
constexpr uint32_t CODE_TYPE2 = 2;
constexpr uint32_t CODE_TYPE3 = 3;
constexpr uint32_t CODE_DNG = 4;
constexpr uint32_t CODE_PACKED = 11;
constexpr uint32_t CODE_TIFF = 0x80000003;
} // namespace

namespace download_settings {

uint32_t formatToRegister(uint32_t format, bool colourSensor, bool packingAvailable)
{
    switch (format) {
    case HX_FORMAT_JPEG: return CODE_JPEG;
    case HX_FORMAT_TYPE3: return CODE_TYPE3;
    case HX_FORMAT_TYPE2: return CODE_TYPE2;
    case HX_FORMAT_DNG:
        if (!colourSensor)
            HLV_THROW(SettingsException, "DNG support for color sensors only");
        return CODE_DNG;
    case HX_FORMAT_TIFF: return CODE_TIFF;
    case HX_FORMAT_PACKED: return packingAvailable ? CODE_PACKED : CODE_TIFF;
    default: HLV_THROW(SettingsException, "Format is not one of HX_FORMAT_*");
    }
}

uint32_t formatFromRegister(uint32_t code)
{
    switch (code) {
    case CODE_TYPE3: return HX_FORMAT_TYPE3;
    case CODE_TYPE2: return HX_FORMAT_TYPE2;
    case CODE_DNG: return HX_FORMAT_DNG;
    case CODE_TIFF: return HX_FORMAT_TIFF;
    case CODE_PACKED: return HX_FORMAT_PACKED;
    default: return HX_FORMAT_JPEG;
    }
}

void checkJpegQuality(uint32_t quality)
{
    if (quality < JPEG_QUALITY_MIN || quality > JPEG_QUALITY_MAX)
        HLV_THROW(SettingsException, "JPEG quality not within constraints");
}

void computeDownload(RegisterCache& download, uint32_t formatCaps, const SessionValues& session,
                     HX_DOWNLOAD_SETTINGS& cached)
{
    cached.turbo_packet_length = session.packetLength;
    cached.turbo_delay = session.packetDelay;
    cached.format_caps = formatCaps;
    cached.format = formatFromRegister(download[GIGE_REG_DOWNLOAD_C294]);
    cached.jpeg_quality = download[GIGE_REG_DOWNLOAD_C0AC];
    cached.jpeg_quality_min = JPEG_QUALITY_MIN;
    cached.jpeg_quality_max = JPEG_QUALITY_MAX;
    cached.pause_count = session.pauseCount;
    cached.resume_count = session.resumeCount;
    if (download[GIGE_REG_CAMERA_STATE] != family::commands::STATE_REVIEW) {
        cached.start = cached.stop = cached.start_max = cached.stop_max = 0;
        return;
    }
    const uint32_t frames = download[GIGE_REG_PB_C140];
    cached.start_max = frames > 1 ? frames - 2 : 0;
    cached.stop_max = frames > 0 ? frames - 1 : 0;
    cached.start = std::min(session.start, cached.start_max);
    cached.stop = session.stop;
}

void mergeDownload(const HX_DOWNLOAD_SETTINGS& cached, HX_DOWNLOAD_SETTINGS& caller)
{
    using R = HX_DOWNLOAD_SETTINGS;
    mergeGroup(cached, caller, {&R::format, &R::format_caps}, {&R::format_flags, &R::flags});
    mergeGroup(cached, caller, {&R::jpeg_quality, &R::jpeg_quality_max, &R::jpeg_quality_min},
               {&R::jpeg_quality_flags, &R::flags});
    mergeGroup(cached, caller, {&R::start, &R::start_max}, {&R::start_flags, &R::flags});
    mergeGroup(cached, caller, {&R::stop, &R::stop_max}, {&R::stop_flags, &R::flags});
    // The packet length is shown without the camera's flag bits (do-not-fragment and the like).
    HX_DOWNLOAD_SETTINGS length = cached;
    length.turbo_packet_length &= PACKET_LENGTH_MASK;
    mergeGroup(length, caller, {&R::turbo_packet_length}, {&R::turbo_packet_length_flags, &R::flags});
    mergeGroup(cached, caller, {&R::turbo_delay}, {&R::turbo_delay_flags, &R::flags});
    mergeGroup(cached, caller, {&R::pause_count, &R::resume_count}, {&R::flags});
}

} // namespace download_settings

} // namespace halvex::family
