// Family stream settings: the interpacket delay and JPEG quality of the camera's image stream,
// validated, written in one exchange and read back.
#include "family/stream_settings.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/download_settings.h"
#include "family/family_operations.h"
#include "family/merge.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

using namespace HX_REGISTERS;
using HX_RECORDS::flagSet;

namespace {

constexpr uint32_t JPEG_QUALITY_MIN = 1;
constexpr uint32_t JPEG_QUALITY_MAX = 100;

} // namespace

namespace FAMILY_STREAM {

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
    FAMILY_MERGE::mergeGroup(cached, caller, {&R::interpacket_delay}, {&R::interpacket_delay_flags, &R::flags});
    FAMILY_MERGE::mergeGroup(cached, caller, {&R::jpeg_quality, &R::jpeg_quality_min, &R::jpeg_quality_max},
                             {&R::jpeg_quality_flags, &R::flags});
}

} // namespace FAMILY_STREAM

void FamilyOperations::computeStreamLocked()
{
    const RegisterCache& registers = groups_.registers(RegisterGroup::Stream);
    FAMILY_STREAM::computeStream(registers, streamOps_->getPacketDelay(registers), streamSettings_);
}

void FamilyOperations::getStreamSettings(HX_STREAM_SETTINGS* out)
{
    readSettings(RegisterGroup::Stream, "TarrowOperations::getStreamSettings", streamSettingsValid_,
                 &FamilyOperations::computeStreamLocked, streamSettings_, out);
}

void FamilyOperations::setStreamSettings(HX_STREAM_SETTINGS* inOut)
{
    static constexpr const char* method = "TarrowOperations::setStreamSettings";
    enterSetter(method, inOut);
    HX_STREAM_SETTINGS& record = *inOut;
    using R = HX_STREAM_SETTINGS;
    FAMILY_MERGE::clearOutcome(record, {&R::flags, &R::interpacket_delay_flags, &R::jpeg_quality_flags});
    std::lock_guard<std::mutex> serialised(settingsMutex_);
    try {
        RegisterPairs writes;
        if (flagSet(record.jpeg_quality_flags)) {
            try {
                FAMILY_DOWNLOAD::checkJpegQuality(record.jpeg_quality);
                writes.push_back({GIGE_REG_DOWNLOAD_C0AC, record.jpeg_quality});
            } catch (const SettingsException& error) {
                HLV_LOG("Settings exception: %s", error.str().c_str());
                record.jpeg_quality_flags |= HX_FLAG_ERR;
            }
        }
        if (flagSet(record.interpacket_delay_flags))
            writes.push_back({GIGE_REG_SCPD0, record.interpacket_delay});
        writeAndMerge(method, writes, streamSettingsValid_, &FamilyOperations::getStreamSettings,
                      &FAMILY_STREAM::mergeStream, record);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", method, name_.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    if (((record.jpeg_quality_flags | record.interpacket_delay_flags) & HX_FLAG_ERR) != 0)
        record.flags |= HX_FLAG_ERR;
}
