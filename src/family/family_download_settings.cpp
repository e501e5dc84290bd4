// Family download settings: which recorded frames to download and in what format, read through the
// download group's cache and the camera's stream session, and written after validation.
#include "family/family_download_settings.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/commands.h"
#include "family/download_settings.h"
#include "family/merge.h"
#include "family/settings_access.h"
#include "packing/hx_internal.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using packing::HxInternal;
using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;

namespace {

// What the download flows see as the object's stream state once a format was written.
constexpr uint32_t FORMAT_WRITTEN_STREAM_STATE = 11;

void clearDownloadOutcome(HX_DOWNLOAD_SETTINGS& record)
{
    using R = HX_DOWNLOAD_SETTINGS;
    merge::clearOutcome(record, {&R::flags, &R::turbo_packet_length_flags, &R::turbo_delay_flags, &R::start_flags,
                                 &R::stop_flags, &R::jpeg_quality_flags, &R::format_flags, &R::rate_control_flags});
}

bool anyRefused(const HX_DOWNLOAD_SETTINGS& record)
{
    for (uint32_t flags : {record.turbo_packet_length_flags, record.turbo_delay_flags, record.start_flags,
                           record.stop_flags, record.jpeg_quality_flags, record.format_flags})
        if ((flags & HX_FLAG_ERR) != 0)
            return true;
    return false;
}

// Runs one field's check; a refusal is logged and marks that field only.
template <class Check>
void field(uint32_t& flags, Check check)
{
    try {
        check();
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        flags |= HX_FLAG_ERR;
    }
}

} // namespace

FamilyDownloadSettings::FamilyDownloadSettings(FamilyCamera& camera) : camera_(camera) {}

void FamilyDownloadSettings::computeDownloadLocked()
{
    RegisterCache& registers = camera_.groups.registers(RegisterGroup::Download);
    download_settings::SessionValues session;
    session.packetLength = camera_.streamOps.settings().getPacketLen(registers);
    session.packetDelay = camera_.streamOps.settings().getPacketDelay(registers);
    session.start = camera_.streamOps.settings().getStart(registers);
    session.stop = camera_.streamOps.settings().getStop(registers);
    camera_.streamOps.settings().getThrottleParams(session.pauseCount, session.resumeCount);
    download_settings::computeDownload(registers, camera_.formatFlags, session, camera_.cached.downloadSettings);
}

void FamilyDownloadSettings::getDownloadSettings(HX_DOWNLOAD_SETTINGS* out)
{
    settings::readSettings(
        camera_, RegisterGroup::Download, HLV_LABEL("getDownloadSettings"), camera_.cached.downloadSettingsValid,
        [this] { computeDownloadLocked(); }, camera_.cached.downloadSettings, out);
}

// Validates each field asked for against the camera's current recording, writes what was accepted
// in one exchange and hands back what the camera holds. The stream session validates and writes
// the streaming part (packet length and delay, frame range, throttle) when the record's own flags
// ask for a write.
void FamilyDownloadSettings::setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut)
{
    static constexpr const char* method = HLV_LABEL("setDownloadSettings");
    settings::enterSetter(camera_, method, inOut);
    HX_DOWNLOAD_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(camera_.settings);
    clearDownloadOutcome(record);
    try {
        getDownloadSettings(nullptr);
        // A frame range is judged by the recording the camera holds now: a host that has just
        // seen the camera reach review asks at once, while the events that bring the new
        // recording to the subscribed cache may still be on their way.
        if ((flagSet(record.start_flags) || flagSet(record.stop_flags)) &&
            settings::cacheTrusted(camera_, camera_.cached.downloadSettingsValid)) {
            settings::refreshGroupOrThrow(camera_, RegisterGroup::Download, method);
            std::lock_guard<std::mutex> lock(camera_.state);
            computeDownloadLocked();
        }
        RegisterPairs writes;
        if (flagSet(record.format_flags)) {
            field(record.format_flags, [&] {
                const bool packing = HxInternal::factory() != nullptr;
                writes.push_back(
                    {GIGE_REG_DOWNLOAD_C294, download_settings::formatToRegister(
                                                 record.format, camera_.operations.sensor().isColour(), packing)});
                camera_.cached.streamState = FORMAT_WRITTEN_STREAM_STATE;
            });
        }
        if (flagSet(record.jpeg_quality_flags)) {
            field(record.jpeg_quality_flags, [&] {
                download_settings::checkJpegQuality(record.jpeg_quality);
                writes.push_back({GIGE_REG_DOWNLOAD_C0AC, record.jpeg_quality});
            });
        }
        {
            std::lock_guard<std::mutex> lock(camera_.state);
            if (camera_.groups.registers(RegisterGroup::Download)[GIGE_REG_CAMERA_STATE] == commands::STATE_REVIEW) {
                record.start_max = camera_.cached.downloadSettings.start_max;
                record.stop_max = camera_.cached.downloadSettings.stop_max;
            }
        }
        camera_.streamOps.setSettings(record, writes);
        if (flagSet(record.flags) && flagSet(record.stop_flags) && (record.stop_flags & HX_FLAG_ERR) == 0)
            writes.push_back({GIGE_REG_DOWNLOAD_C2B8, record.stop});
        settings::writeAndMerge(
            camera_, method, writes, camera_.cached.downloadSettingsValid,
            [this](auto* held) { getDownloadSettings(held); }, &download_settings::mergeDownload, record);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    if (anyRefused(record))
        record.flags |= HX_FLAG_ERR;
}

} // namespace halvex::family
