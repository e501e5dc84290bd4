// Family stream settings: the interpacket delay and JPEG quality of the camera's image stream, read
// through the stream group's cache and written as asked.
#include "family/family_stream_settings.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/capture.h"
#include "family/download_settings.h"
#include "family/merge.h"
#include "family/settings_access.h"
#include "family/stream_settings.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

using namespace HX_REGISTERS;
using HX_RECORDS::flagSet;

FamilyStreamSettings::FamilyStreamSettings(FamilyCamera& camera) : camera_(camera) {}

void FamilyStreamSettings::computeStreamLocked()
{
    const RegisterCache& registers = camera_.groups.registers(RegisterGroup::Stream);
    FAMILY_STREAM::computeStream(registers, camera_.streamOps.settings().getPacketDelay(registers),
                                 camera_.cached.streamSettings);
}

void FamilyStreamSettings::getStreamSettings(HX_STREAM_SETTINGS* out)
{
    FAMILY_SETTINGS::readSettings(
        camera_, RegisterGroup::Stream, HLV_LABEL("getStreamSettings"), camera_.cached.streamSettingsValid,
        [this] { computeStreamLocked(); }, camera_.cached.streamSettings, out);
}

void FamilyStreamSettings::setStreamSettings(HX_STREAM_SETTINGS* inOut)
{
    static constexpr const char* method = HLV_LABEL("setStreamSettings");
    FAMILY_SETTINGS::enterSetter(camera_, method, inOut);
    HX_STREAM_SETTINGS& record = *inOut;
    using R = HX_STREAM_SETTINGS;
    FAMILY_MERGE::clearOutcome(record, {&R::flags, &R::interpacket_delay_flags, &R::jpeg_quality_flags});
    std::lock_guard<std::mutex> serialised(camera_.settings);
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
        FAMILY_SETTINGS::writeAndMerge(
            camera_, method, writes, camera_.cached.streamSettingsValid,
            [this](auto* held) { getStreamSettings(held); }, &FAMILY_STREAM::mergeStream, record);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    if (((record.jpeg_quality_flags | record.interpacket_delay_flags) & HX_FLAG_ERR) != 0)
        record.flags |= HX_FLAG_ERR;
}
