// Morvane save request: the host's save settings checked and translated into the camera's terms.
#include <hlv_thread/log.h>

#include "morvane/morvane_save.h"

namespace halvex::morvane::save {
namespace {

// The format code (low bits of dst_info) for a format bit, destination 1; the destination
// nibble (1, 2 or 4) goes into bits 8 to 11.
std::optional<uint32_t> formatCode(uint32_t format)
{
    switch (format) {
    case HX_FORMAT_JPEG: return 0x101;
    case HX_FORMAT_TYPE3: return 0x103;
    case HX_FORMAT_TYPE2: return 0x102;
    case HX_FORMAT_DNG: return 0x104;
    case HX_FORMAT_TIFF: return 0x80000103;
    case HX_FORMAT_PACKED: return 0x10B;
    default: return std::nullopt;
    }
}

bool refuse(const char* reason, const char* method)
{
    HLV_LOG("%s: %s", method, reason);
    return false;
}

// The frames, checked: both ends present and in order.
bool copyFrames(const Json::Value& settings, SaveRequest& save, const char* method)
{
    if (!settings.isMember("frame_start") || !settings.isMember("frame_end"))
        return refuse("start and ending frames are required.", method);
    const uint32_t start = settings["frame_start"].asUInt();
    const uint32_t end = settings["frame_end"].asUInt();
    if (end < start)
        return refuse("The ending frame comes before the starting frame.", method);
    save.request["frame_start"] = start;
    save.request["frame_end"] = end;
    save.frameCount = end - start + 1;
    save.request["frame_count"] = save.frameCount;
    return true;
}

// The format and destination fields, checked, as the code of dst_info.
std::optional<uint32_t> destinationCode(const Json::Value& settings, bool colourSensor, const char* method)
{
    if (!settings.isMember("format"))
        return refuse("The format field is required.", method), std::nullopt;
    const uint32_t format = settings["format"].asUInt();
    std::optional<uint32_t> code = formatCode(format);
    if (!code)
        return refuse("Format is not one of HX_FORMAT_*", method), std::nullopt;
    if (format == HX_FORMAT_DNG && !colourSensor)
        return refuse("DNG is for color sensors only.", method), std::nullopt;
    if (!settings.isMember("dst_info"))
        return refuse("The destination info field is required.", method), std::nullopt;
    const uint32_t destination = settings["dst_info"].asUInt();
    if (destination != 1 && destination != 2 && destination != 4)
        return refuse("Unexpected destination value", method), std::nullopt;
    return (*code & ~0xF00u) | (destination << 8);
}

// Frames per second of the saved movie in bits 12 to 27; missing or not above 0 means 25.
std::optional<uint32_t> playbackRateBits(const Json::Value& settings, const char* method)
{
    int64_t rate = settings.isMember("playback_rate") ? settings["playback_rate"].asInt64() : 0;
    if (rate <= 0)
        rate = kDefaultPlaybackRate;
    if (rate > 0xFFFF)
        return refuse("The playback rate is out of range.", method), std::nullopt;
    return static_cast<uint32_t>(rate) << 12;
}

} // namespace

std::optional<SaveRequest> translate(const Json::Value& settings, bool colourSensor, const char* method)
{
    SaveRequest save;
    save.request = Json::Value(Json::objectValue);
    uint32_t flags = 0;
    if (settings.isMember("comment"))
        save.comment = settings["comment"].asString();
    if (settings.isMember("tag")) {
        save.request["tag"] = settings["tag"];
        flags |= kTagged;
    }
    if (!settings.isMember("dstpath"))
        return refuse("The destination path is required.", method), std::nullopt;
    save.request["dstpath"] = settings["dstpath"].asString();
    if (!copyFrames(settings, save, method))
        return std::nullopt;
    const std::optional<uint32_t> code = destinationCode(settings, colourSensor, method);
    if (!code)
        return std::nullopt;
    if (settings["format"].asUInt() == HX_FORMAT_JPEG && settings.isMember("jpeg_quality")) {
        const int quality = settings["jpeg_quality"].asInt();
        save.jpegQuality = quality > 0 ? static_cast<uint32_t>(quality) : 0;
    }
    const std::optional<uint32_t> rate = playbackRateBits(settings, method);
    if (!rate)
        return std::nullopt;
    if (settings.isMember("use_camera_name") && settings["use_camera_name"].asBool())
        flags |= kUseCameraName;
    save.request["dst_info"] = *code | *rate | flags;
    if (settings.isMember("shared_mem"))
        save.request["shared_mem"] = settings["shared_mem"].asBool();
    return save;
}

SaveStatus interpret(uint32_t saveState)
{
    if (saveState & kSaveError)
        return {SaveStatus::Kind::Failed, saveState & kSaveValueMask};
    if (saveState & kSaveIdle)
        return {SaveStatus::Kind::Idle, 100};
    return {SaveStatus::Kind::Running, saveState & kSaveValueMask};
}

void fillProgress(const SaveStatus& status, uint32_t frameCount, uint32_t cameraProgress, HX_PROGRESS& record)
{
    record.error = status.kind == SaveStatus::Kind::Failed ? status.value : 0;
    record.percent = status.kind == SaveStatus::Kind::Failed ? record.percent : status.value;
    record.total_frames = frameCount;
    record.camera_progress = cameraProgress;
}

} // namespace halvex::morvane::save
