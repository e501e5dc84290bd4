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

namespace halvex::family {

using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;

FamilyStreamSettings::FamilyStreamSettings(FamilyCamera& camera) : camera_(camera) {}

void FamilyStreamSettings::computeStreamLocked()
{
    const RegisterCache& registers = camera_.groups.registers(RegisterGroup::Stream);
    stream_settings::computeStream(registers, camera_.streamOps.settings().getPacketDelay(registers),
                                   camera_.cached.streamSettings);
}

void FamilyStreamSettings::getStreamSettings(HX_STREAM_SETTINGS* out)
{
    settings::readSettings(
        camera_, RegisterGroup::Stream, HLV_LABEL("getStreamSettings"), camera_.cached.streamSettingsValid,
        [this] { computeStreamLocked(); }, camera_.cached.streamSettings, out);
}

void FamilyStreamSettings::setStreamSettings(HX_STREAM_SETTINGS* inOut)
{
    static constexpr const char* method = HLV_LABEL("setStreamSettings");
    settings::enterSetter(camera_, method, inOut);
    HX_STREAM_SETTINGS& record = *inOut;
    using R = HX_STREAM_SETTINGS;
    merge::clearOutcome(record, {&R::flags, &R::interpacket_delay_flags, &R::jpeg_quality_flags});
    std::lock_guard<std::mutex> serialised(camera_.settings);
    try {
        RegisterPairs writes;
        if (flagSet(record.jpeg_quality_flags)) {
            try {
                download_settings::checkJpegQuality(record.jpeg_quality);
                writes.push_back({GIGE_REG_DOWNLOAD_C0AC, record.jpeg_quality});
            } catch (const SettingsException& error) {
                HLV_LOG("Settings exception: %s", error.str().c_str());
                record.jpeg_quality_flags |= HX_FLAG_ERR;
            }
        }
        if (flagSet(record.interpacket_delay_flags))
            writes.push_back({GIGE_REG_SCPD0, record.interpacket_delay});
        settings::writeAndMerge(
            camera_, method, writes, camera_.cached.streamSettingsValid,
            [this](auto* held) { getStreamSettings(held); }, &stream_settings::mergeStream, record);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    if (((record.jpeg_quality_flags | record.interpacket_delay_flags) & HX_FLAG_ERR) != 0)
        record.flags |= HX_FLAG_ERR;
}

} // namespace halvex::family
