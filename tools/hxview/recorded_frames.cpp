// hxview recorded frames.
#include "recorded_frames.h"

#include <algorithm>

#include "stream_stats.h"

namespace hxview {
namespace {

// A shown frame is one image on the playback stream: it arrives within a control round trip and
// one frame's sending, far less than this on any working link.
constexpr auto kShowTime = std::chrono::seconds(5);

} // namespace

RecordedFrames::RecordedFrames(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera) : client_(client), camera_(camera) {}

bool RecordedFrames::fetch(uint32_t frame, const halvex::common::FrameGeometry& geometry, std::vector<uint8_t>& bytes,
                           std::string& error)
{
    std::lock_guard<std::mutex> one(fetching_);
    const std::size_t frameBytes = halvex::common::packedRowBytes(geometry.width, geometry.depth) * geometry.height;
    const std::size_t size = std::max<std::size_t>(HX_STREAM_MIN_BUFFER_SIZE, frameBytes + 8192);
    std::vector<HX_READ_STREAM*> records;
    {
        std::lock_guard<std::mutex> guard(lock_);
        records = pool_.take(kBuffers - std::min(kBuffers, lent_), size);
        lent_ += records.size();
        wanted_ = frame;
        arrived_ = false;
    }
    for (HX_READ_STREAM* record : records) {
        if (HX_play(client_, camera_, record) != HX_STATUS_OK) {
            error = "the library refused a playback buffer";
            return false;
        }
    }
    if (!show(frame, error))
        return false;
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_until(guard, std::chrono::steady_clock::now() + kShowTime, [this] { return arrived_; })) {
        error = "frame " + std::to_string(frame) + " did not arrive from the camera";
        return false;
    }
    bytes.swap(shown_);
    return true;
}

// A paused playback shows the frame it is set to; a running one is paused first.
bool RecordedFrames::show(uint32_t frame, std::string& error)
{
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof(playback));
    if (HX_setup_playback_syn(client_, camera_, &playback, &playback) != HX_STATUS_OK) {
        error = "the playback settings could not be read";
        return false;
    }
    if (frame > playback.current_frame_max || playback.mode_caps == 0) {
        error = playback.mode_caps == 0 ? "the camera holds no recording"
                                        : "frame " + std::to_string(frame) + " is beyond the recording's last frame " +
                                              std::to_string(playback.current_frame_max);
        return false;
    }
    const bool paused = playback.mode == HX_PLAY_PAUSE;
    playback.flags = HX_FLAG_SET;
    playback.mode = HX_PLAY_PAUSE;
    playback.mode_flags = HX_FLAG_SET;
    for (int step = paused ? 1 : 0; step < 2; ++step) {
        HX_PLAYBACK_SETTINGS request = playback;
        request.current_frame = frame;
        request.current_frame_flags = step == 1 ? HX_FLAG_SET : 0;
        if (HX_setup_playback_syn(client_, camera_, &request, &request) != HX_STATUS_OK ||
            (request.flags & HX_FLAG_ERR) != 0) {
            error = "the camera refused to show frame " + std::to_string(frame);
            return false;
        }
    }
    return true;
}

void RecordedFrames::returned(HX_READ_STREAM* record)
{
    if (record == nullptr)
        return;
    const bool filled = !BufferPool::unfilled(*record);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (filled && halvex::common::StreamStats::complete(*record) && wanted_ == record->frame_id) {
            const auto* bytes = static_cast<const uint8_t*>(record->buffer);
            shown_.assign(bytes, bytes + record->received_length);
            arrived_ = true;
        }
        if (!filled) {
            --lent_;
            pool_.give(record);
        }
    }
    changed_.notify_all();
    if (filled) {
        BufferPool::clear(*record);
        HX_play(client_, camera_, record);
    }
}

} // namespace hxview
