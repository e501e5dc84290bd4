// Tarrow download settings: which recorded frames to download and in what format, validated,
// written to the camera in one exchange and read back.
#include "tarrow/tarrow_download_settings.h"

#include <algorithm>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "packing/hx_internal.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"
#include "tarrow/tarrow_commands.h"
#include "tarrow/tarrow_merge.h"
#include "tarrow/tarrow_operations.h"

using namespace HX_REGISTERS;
using HX_RECORDS::flagSet;
using TARROW_MERGE::mergeGroup;

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
// What the download flows see as the object's stream state once a format was written.
constexpr uint32_t FORMAT_WRITTEN_STREAM_STATE = 11;

void clearDownloadOutcome(HX_DOWNLOAD_SETTINGS& record)
{
    using R = HX_DOWNLOAD_SETTINGS;
    TARROW_MERGE::clearOutcome(record,
                               {&R::flags, &R::turbo_packet_length_flags, &R::turbo_delay_flags, &R::start_flags,
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

namespace TARROW_DOWNLOAD {

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
    if (download[GIGE_REG_CAMERA_STATE] != TARROW_COMMANDS::STATE_REVIEW) {
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

} // namespace TARROW_DOWNLOAD

void TarrowOperations::computeDownloadLocked()
{
    RegisterCache& registers = groups_.registers(RegisterGroup::Download);
    TARROW_DOWNLOAD::SessionValues session;
    session.packetLength = streamOps_->getPacketLen(registers);
    session.packetDelay = streamOps_->getPacketDelay(registers);
    session.start = streamOps_->getStart(registers);
    session.stop = streamOps_->getStop(registers);
    streamOps_->getThrottleParams(session.pauseCount, session.resumeCount);
    TARROW_DOWNLOAD::computeDownload(registers, downloadFormatFlags_, session, downloadSettings_);
}

void TarrowOperations::getDownloadSettings(HX_DOWNLOAD_SETTINGS* out)
{
    readSettings(RegisterGroup::Download, "TarrowOperations::getDownloadSettings", downloadSettingsValid_,
                 &TarrowOperations::computeDownloadLocked, downloadSettings_, out);
}

// Validates each field asked for against the camera's current recording, writes what was accepted
// in one exchange and hands back what the camera holds. The stream session validates and writes
// the streaming part (packet length and delay, frame range, throttle) when the record's own flags
// ask for a write.
void TarrowOperations::setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut)
{
    static constexpr const char* method = "TarrowOperations::setDownloadSettings";
    enterSetter(method, inOut);
    HX_DOWNLOAD_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(settingsMutex_);
    clearDownloadOutcome(record);
    try {
        getDownloadSettings(nullptr);
        // A frame range is judged by the recording the camera holds now: a host that has just
        // seen the camera reach review asks at once, while the events that bring the new
        // recording to the subscribed cache may still be on their way.
        if ((flagSet(record.start_flags) || flagSet(record.stop_flags)) && cacheTrusted(downloadSettingsValid_)) {
            refreshGroupOrThrow(RegisterGroup::Download, method);
            std::lock_guard<std::mutex> lock(stateMutex_);
            computeDownloadLocked();
        }
        RegisterPairs writes;
        if (flagSet(record.format_flags)) {
            field(record.format_flags, [&] {
                const bool packing = HxInternal::factory() != nullptr;
                writes.push_back({GIGE_REG_DOWNLOAD_C294,
                                  TARROW_DOWNLOAD::formatToRegister(record.format, sensor().isColour(), packing)});
                streamState_ = FORMAT_WRITTEN_STREAM_STATE;
            });
        }
        if (flagSet(record.jpeg_quality_flags)) {
            field(record.jpeg_quality_flags, [&] {
                TARROW_DOWNLOAD::checkJpegQuality(record.jpeg_quality);
                writes.push_back({GIGE_REG_DOWNLOAD_C0AC, record.jpeg_quality});
            });
        }
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (groups_.registers(RegisterGroup::Download)[GIGE_REG_CAMERA_STATE] == TARROW_COMMANDS::STATE_REVIEW) {
                record.start_max = downloadSettings_.start_max;
                record.stop_max = downloadSettings_.stop_max;
            }
        }
        streamOps_->setSettings(record, writes);
        if (flagSet(record.flags) && flagSet(record.stop_flags) && (record.stop_flags & HX_FLAG_ERR) == 0)
            writes.push_back({GIGE_REG_DOWNLOAD_C2B8, record.stop});
        writeAndMerge(method, writes, downloadSettingsValid_, &TarrowOperations::getDownloadSettings,
                      &TARROW_DOWNLOAD::mergeDownload, record);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", method, name_.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    if (anyRefused(record))
        record.flags |= HX_FLAG_ERR;
}
