// hxcam watch: one line per camera event, queued from the library's callback thread.
#include "watch_events.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace hxcam {
namespace {

const char* playMode(uint32_t mode)
{
    switch (mode) {
    case HX_PLAY_FORWARD: return "forward";
    case HX_PLAY_REVERSE: return "reverse";
    case HX_PLAY_PAUSE: return "pause";
    default: return "?";
    }
}

const char* formatName(uint32_t format)
{
    switch (format) {
    case HX_FORMAT_JPEG: return "jpeg";
    case HX_FORMAT_TYPE3: return "type3";
    case HX_FORMAT_TYPE2: return "type2";
    case HX_FORMAT_DNG: return "dng";
    case HX_FORMAT_TIFF: return "tiff";
    case HX_FORMAT_PACKED: return "packed";
    default: return "?";
    }
}

const char* onOff(uint32_t value)
{
    return value != 0 ? "on" : "off";
}

std::string print(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string print(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

std::string describeRecord(uint32_t event, const void* data)
{
    switch (event) {
    case HX_STATE: {
        const auto* r = static_cast<const HX_COMMAND*>(data);
        return "state=" + stateName(r->code) + " commands=" + commandNames(r->code_caps);
    }
    case HX_PROGRESS_UPDATE: {
        const auto* r = static_cast<const HX_PROGRESS*>(data);
        return print("recorded=%u total=%u trigger=%u", r->recorded_frames, r->total_frames, r->trigger_frames);
    }
    case HX_PLAYBACK_CHANGE: {
        const auto* r = static_cast<const HX_PLAYBACK_SETTINGS*>(data);
        return print("mode=%s frame=%u last=%u range=%u..%u interval=%u trigger=%u", playMode(r->mode),
                     r->current_frame, r->current_frame_max, r->cut_in, r->cut_out, r->interval, r->trigger);
    }
    case HX_CAPTURE_CHANGE: {
        const auto* r = static_cast<const HX_CAPTURE_SETTINGS*>(data);
        return print("roi=%ux%u+%u+%u rate=%u exposure=%u length=%u", r->width, r->height, r->x_offset, r->y_offset,
                     r->rate, r->exposure, r->length);
    }
    case HX_DOWNLOAD_CHANGE: {
        const auto* r = static_cast<const HX_DOWNLOAD_SETTINGS*>(data);
        return print("format=%s jpeg=%u from=%u to=%u", formatName(r->format), r->jpeg_quality, r->start, r->stop);
    }
    case HX_IO_CHANGE: {
        const auto* r = static_cast<const HX_IO_SETTINGS*>(data);
        return print("trigger-in=%s trigger-out=%s sync-in=%s sync-out=%s arm-in=%s arm-out=%s",
                     onOff(r->trigger_in_enable), onOff(r->trigger_out_enable), onOff(r->sync_in_enable),
                     onOff(r->sync_out_enable), onOff(r->arm_in_enable), onOff(r->arm_out_enable));
    }
    case HX_STREAM_CHANGE: {
        const auto* r = static_cast<const HX_STREAM_SETTINGS*>(data);
        return print("delay=%u jpeg=%u", r->interpacket_delay, r->jpeg_quality);
    }
    case HX_LENS_CHANGE: {
        const auto* r = static_cast<const HX_LENS_STATUS*>(data);
        return print("connected=%u focus=%u zoom=%u", r->connected, r->focus_pos, r->zoom_pos);
    }
    case HX_DISCOVERY: {
        const auto* r = static_cast<const HX_CAMERA_INFORMATION*>(data);
        return std::string("model=") + r->model_name + " name=" + r->user_name;
    }
    default: return {};
    }
}

const char* eventName(uint32_t event)
{
    switch (event) {
    case HX_DISCOVERY: return "found";
    case HX_END: return "lost";
    case HX_CAPTURE_CHANGE: return "capture";
    case HX_STATE: return "state";
    case HX_DOWNLOAD_CHANGE: return "download";
    case HX_IO_CHANGE: return "io";
    case HX_LENS_CHANGE: return "lens";
    case HX_PLAYBACK_CHANGE: return "playback";
    case HX_STREAM_CHANGE: return "stream";
    case HX_PROGRESS_UPDATE: return "progress";
    default: return nullptr;
    }
}

} // namespace

std::string stateName(uint32_t state)
{
    switch (state) {
    case HX_CAMERA_STATE_IDLE: return "idle";
    case HX_CAMERA_STATE_ARM: return "armed";
    case HX_CAMERA_STATE_TRIGGER: return "triggered";
    case HX_CAMERA_STATE_REVIEW: return "review";
    case HX_CAMERA_STATE_BUSY: return "busy";
    default: return print("state 0x%x", state);
    }
}

std::string commandNames(uint32_t caps)
{
    std::string names;
    for (const auto& [bit, name] : {std::pair{uint32_t{HX_CMD_LIVE}, "live"}, std::pair{uint32_t{HX_CMD_ARM}, "arm"},
                                    std::pair{uint32_t{HX_CMD_TRIGGER}, "trigger"}}) {
        if ((caps & bit) != 0)
            names += std::string(names.empty() ? "" : ",") + name;
    }
    return names.empty() ? "none" : names;
}

std::string formatEvent(uint32_t event, HX_CAMERA_HANDLE camera, const void* data)
{
    const char* name = eventName(event);
    if (name == nullptr)
        return print("event %u camera=0x%llx", event, static_cast<unsigned long long>(camera));
    const std::string details = data != nullptr ? describeRecord(event, data) : std::string();
    return details.empty() ? name : std::string(name) + " " + details;
}

void EventQueue::onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    auto* queue = static_cast<EventQueue*>(cookie);
    std::string line = formatEvent(event, camera, data);
    {
        std::lock_guard<std::mutex> lock(queue->lock_);
        queue->lines_.push_back(std::move(line));
    }
    queue->added_.notify_all();
}

std::optional<std::string> EventQueue::next(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(lock_);
    if (!added_.wait_until(lock, until, [this] { return !lines_.empty(); }))
        return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

} // namespace hxcam
