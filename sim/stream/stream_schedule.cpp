// The stream's timetable.
#include "sim/stream/stream_schedule.h"

#include <algorithm>

#include <fmt/format.h>

#include "sim/device/stream_control.h"

namespace hxsim {
namespace {

namespace Control = StreamControl;

bool usesRecording(StreamKind kind)
{
    return kind == StreamKind::Playback || kind == StreamKind::Show || kind == StreamKind::Download;
}

} // namespace

void StreamSchedule::control(uint32_t value, const StreamSettings& settings, SimTime now)
{
    switch (value) {
    case Control::kStop: stop(); break;
    case Control::kLive:
        if (kind_ != StreamKind::Live) {
            start(StreamKind::Live, settings, now);
        }
        paused_ = false;
        break;
    case Control::kDownload: start(StreamKind::Download, settings, now); break;
    case Control::kPlay:
    case Control::kShow:
        // Outside review the camera ignores these and keeps streaming what it was.
        if (settings.recording) {
            start(value == Control::kPlay ? StreamKind::Playback : StreamKind::Show, settings, now);
        }
        break;
    case Control::kPause: paused_ = true; break;
    case Control::kResume: paused_ = false; break;
    default: break;
    }
}

void StreamSchedule::stop()
{
    paused_ = false;
    if (kind_ != StreamKind::None) {
        kind_ = StreamKind::None;
        ++generation_;
    }
}

void StreamSchedule::start(StreamKind kind, const StreamSettings& settings, SimTime now)
{
    ++generation_;
    kind_ = kind;
    paused_ = false;
    serial_ = settings.recordingSerial();
    startedAt_ = now;
    base_ = 0;
    next_ = 0;
    lastTaken_.reset();
    const uint32_t length = settings.recording ? settings.recording->length : 0;
    switch (kind) {
    case StreamKind::Live: rate_ = std::max(settings.liveFrameRate, 1u); break;
    case StreamKind::Playback: {
        PlaybackRequest request{settings.currentFrame,
                                settings.firstFrame,
                                settings.lastFrame,
                                settings.playbackStep & ~kReverse,
                                (settings.playbackStep & kReverse) != 0,
                                settings.playbackRate};
        playback_.play(request, length, now);
        rate_ = settings.playbackRate == 0 ? Playback::kDefaultRate : settings.playbackRate;
        break;
    }
    case StreamKind::Show:
        nextFrame_ = lastFrame_ = std::min(settings.currentFrame, length == 0 ? 0 : length - 1);
        framesLeft_ = length > 0;
        break;
    case StreamKind::Download:
        nextFrame_ = settings.firstFrame;
        lastFrame_ = std::min(settings.lastFrame, length == 0 ? 0 : length - 1);
        framesLeft_ = length > 0 && nextFrame_ <= lastFrame_;
        break;
    case StreamKind::None: break;
    }
}

void StreamSchedule::follow(const StreamSettings& settings, SimTime now)
{
    if (kind_ == StreamKind::None) {
        return;
    }
    if (settings.streamControl == Control::kStop || (usesRecording(kind_) && settings.recordingSerial() != serial_)) {
        stop();
        return;
    }
    if (kind_ == StreamKind::Live && settings.liveFrameRate != rate_) {
        // Frames already due keep their numbers; later ones follow the new rate.
        base_ += framesIn(now - startedAt_, rate_);
        startedAt_ = now;
        rate_ = std::max(settings.liveFrameRate, 1u);
    }
}

std::optional<FrameOrder> StreamSchedule::take(SimTime now)
{
    if (paused_) {
        return std::nullopt;
    }
    switch (kind_) {
    case StreamKind::Live:
    case StreamKind::Playback: return takeTimed(now);
    case StreamKind::Show:
    case StreamKind::Download:
        if (!framesLeft_) {
            return std::nullopt;
        }
        framesLeft_ = nextFrame_ < lastFrame_;
        return FrameOrder{kind_, nextFrame_++};
    case StreamKind::None: break;
    }
    return std::nullopt;
}

std::optional<FrameOrder> StreamSchedule::takeTimed(SimTime now)
{
    if (lastTaken_ && now < *lastTaken_ + minGap_) {
        return std::nullopt;
    }
    const uint64_t due = base_ + framesIn(now - startedAt_, rate_);
    if (due < next_) {
        return std::nullopt;
    }
    next_ = due + 1;
    lastTaken_ = now;
    const uint32_t frame = kind_ == StreamKind::Live ? static_cast<uint32_t>(due) : playback_.position(now);
    return FrameOrder{kind_, frame};
}

SimTime StreamSchedule::nextDue() const
{
    if (paused_) {
        return kNever;
    }
    switch (kind_) {
    case StreamKind::Live:
    case StreamKind::Playback: return timedDue();
    case StreamKind::Show:
    case StreamKind::Download: return framesLeft_ ? SimTime{0} : kNever;
    case StreamKind::None: break;
    }
    return kNever;
}

SimTime StreamSchedule::timedDue() const
{
    const SimTime byRate = startedAt_ + framesDuration(next_ - base_, rate_);
    return lastTaken_ ? std::max(byRate, *lastTaken_ + minGap_) : byRate;
}

void StreamSchedule::retry(const FrameOrder& order)
{
    if (order.kind != kind_ || (kind_ != StreamKind::Download && kind_ != StreamKind::Show)) {
        return;
    }
    nextFrame_ = std::min(nextFrame_, order.frame);
    framesLeft_ = true;
}

std::string StreamSchedule::describe() const
{
    std::string text;
    switch (kind_) {
    case StreamKind::None: text = "stopped"; break;
    case StreamKind::Live: text = fmt::format("live at {} frames/s", rate_); break;
    case StreamKind::Playback:
        text = fmt::format("playback from frame {} {} at {} steps/s", playback_.position(startedAt_),
                           playback_.reverse() ? "backwards" : "forwards", rate_);
        break;
    case StreamKind::Show: text = fmt::format("showing frame {}", lastFrame_); break;
    case StreamKind::Download:
        text = framesLeft_ ? fmt::format("download of frames {}..{}", nextFrame_, lastFrame_)
                           : "download with no frames in the recording's range";
        break;
    }
    return paused_ ? text + " (paused)" : text;
}

} // namespace hxsim
