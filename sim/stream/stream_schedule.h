// Which frame a camera streams next and when: live frames at the frame rate, playback steps,
// one shown frame, or the frames of a download, with pause and resume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/device/playback.h"
#include "sim/device/sim_time.h"
#include "sim/stream/stream_settings.h"

namespace hxsim {

enum class StreamKind { None, Live, Playback, Show, Download };

struct FrameOrder {
    StreamKind kind = StreamKind::None;
    uint32_t frame = 0; // live: frames since live began; otherwise the recording's frame
};

// Pure: camera time is a parameter. Live and playback frames are numbered by the time they are
// due; when the sender falls behind (or `minGap` holds it back) the ones missed are skipped, so
// the numbers only grow. Download frames go one after another, as fast as they can be sent.
//
// Not thread-safe: the camera's streaming thread owns it.
class StreamSchedule {
public:
    // `minGap`: the least camera time between two live or playback frames.
    explicit StreamSchedule(SimTime minGap) : minGap_(minGap) {}

    // A host wrote `value` to the stream control register; `settings` are those after its request.
    void control(uint32_t value, const StreamSettings& settings, SimTime now);
    // Settings that changed on their own: the camera stopped streaming (heartbeat expiry, the
    // recording discarded) or the live frame rate moved.
    void follow(const StreamSettings& settings, SimTime now);

    // The frame to send now, if one is due.
    std::optional<FrameOrder> take(SimTime now);
    // When take() may next give a frame; kNever when it will not without a new command.
    SimTime nextDue() const;
    // A download frame that could not be delivered goes again next.
    void retry(const FrameOrder& order);

    StreamKind kind() const { return kind_; }
    bool paused() const { return paused_; }
    // Counts starts and stops; pauses, resumes and commands that change nothing leave it.
    uint64_t generation() const { return generation_; }
    std::string describe() const;

private:
    void start(StreamKind kind, const StreamSettings& settings, SimTime now);
    void stop();
    std::optional<FrameOrder> takeTimed(SimTime now);
    SimTime timedDue() const;

    SimTime minGap_;
    StreamKind kind_ = StreamKind::None;
    bool paused_ = false;
    uint64_t generation_ = 0;
    uint32_t serial_ = 0; // the recording played, shown or downloaded
    // Live and playback: frames (steps) counted from `base_` at `rate_` since `startedAt_`.
    SimTime startedAt_{0};
    uint32_t rate_ = 1;
    uint64_t base_ = 0;
    uint64_t next_ = 0;
    std::optional<SimTime> lastTaken_;
    Playback playback_;
    // Show and download: the frames still to send.
    uint32_t nextFrame_ = 0;
    uint32_t lastFrame_ = 0;
    bool framesLeft_ = false;
};

} // namespace hxsim
