// Recording state machine of the stand-in camera.
#include "sim/device/recorder.h"

#include <algorithm>
#include <array>

namespace hxsim {
namespace {

struct Transition {
    CameraState from;
    uint32_t command;
    CameraState to;
};

// Every accepted command; anything not listed is acknowledged and ignored. Arming from review
// and entering busy from review discard the recording held.
constexpr std::array<Transition, 9> kTransitions{{
    {CameraState::Idle, StateCommand::kIdle, CameraState::Idle},
    {CameraState::Idle, StateCommand::kArm, CameraState::Armed},
    {CameraState::Idle, StateCommand::kBusy, CameraState::Busy},
    {CameraState::Armed, StateCommand::kIdle, CameraState::Idle},
    {CameraState::Armed, StateCommand::kTrigger, CameraState::Triggered},
    {CameraState::Triggered, StateCommand::kIdle, CameraState::Idle},
    {CameraState::Review, StateCommand::kIdle, CameraState::Idle},
    {CameraState::Review, StateCommand::kArm, CameraState::Armed},
    {CameraState::Review, StateCommand::kBusy, CameraState::Busy},
}};

} // namespace

std::string_view stateName(CameraState state)
{
    switch (state) {
    case CameraState::Idle: return "idle";
    case CameraState::Armed: return "armed";
    case CameraState::Triggered: return "triggered";
    case CameraState::Review: return "review";
    case CameraState::Busy: return "busy";
    }
    return "unknown";
}

std::optional<CameraState> Recorder::transition(CameraState from, uint32_t command)
{
    for (const Transition& entry : kTransitions) {
        if (entry.from == from && entry.command == command) {
            return entry.to;
        }
    }
    return std::nullopt;
}

uint32_t Recorder::partitionState() const
{
    switch (state_) {
    case CameraState::Armed:
    case CameraState::Triggered: return PartitionState::kRecording;
    case CameraState::Review: return PartitionState::kRecorded;
    default: return PartitionState::kEmpty;
    }
}

bool Recorder::command(uint32_t command, SimTime now, const RecordPlan& plan)
{
    advance(now);
    const auto next = transition(state_, command);
    if (!next) {
        return false;
    }
    switch (*next) {
    case CameraState::Armed: arm(now, plan); break;
    case CameraState::Triggered: trigger(now); break;
    case CameraState::Busy: busyUntil_ = now + kBusyTime; break;
    default: break;
    }
    if (*next != CameraState::Triggered && *next != CameraState::Armed) {
        recording_.reset();
        frozenAt_ = std::min(frozenAt_, now);
    }
    state_ = *next;
    return true;
}

void Recorder::arm(SimTime now, const RecordPlan& plan)
{
    plan_ = plan;
    plan_.length = std::max(plan_.length, 1u);
    plan_.triggerFrames = std::min(plan_.triggerFrames, plan_.length);
    plan_.frameRate = std::max(plan_.frameRate, 1u);
    armedAt_ = now;
    frozenAt_ = kNever;
    armedOnce_ = true;
    triggered_ = false;
    keptBeforeTrigger_ = 0;
    recording_.reset();
}

void Recorder::trigger(SimTime now)
{
    triggeredAt_ = now;
    triggered_ = true;
    const uint64_t recorded = framesIn(now - armedAt_, plan_.frameRate);
    keptBeforeTrigger_ = static_cast<uint32_t>(std::min<uint64_t>(recorded, plan_.triggerFrames));
}

void Recorder::enterReview()
{
    ++serial_;
    Recording made;
    made.serial = serial_;
    made.length = keptBeforeTrigger_ + postTriggerFrames();
    made.triggerFrame = keptBeforeTrigger_;
    made.frameRate = plan_.frameRate;
    made.geometry = plan_.geometry;
    recording_ = made;
    state_ = CameraState::Review;
}

bool Recorder::advance(SimTime now)
{
    const SimTime due = nextChange();
    if (due == kNever || now < due) {
        return false;
    }
    if (state_ == CameraState::Triggered) {
        frozenAt_ = due;
        enterReview();
    } else if (state_ == CameraState::Busy) {
        state_ = CameraState::Idle;
    }
    return true;
}

SimTime Recorder::nextChange() const
{
    switch (state_) {
    case CameraState::Triggered: return triggeredAt_ + framesDuration(postTriggerFrames(), plan_.frameRate);
    case CameraState::Busy: return busyUntil_;
    default: return kNever;
    }
}

SimTime Recorder::progressTime(SimTime now) const
{
    return std::min(now, frozenAt_);
}

bool Recorder::counting() const
{
    return state_ == CameraState::Armed || state_ == CameraState::Triggered || state_ == CameraState::Review;
}

uint64_t Recorder::framesSinceArmUncapped(SimTime now) const
{
    if (!armedOnce_ || !counting()) {
        return 0;
    }
    return framesIn(progressTime(now) - armedAt_, plan_.frameRate);
}

uint32_t Recorder::framesSinceArm(SimTime now) const
{
    return static_cast<uint32_t>(std::min<uint64_t>(framesSinceArmUncapped(now), plan_.length));
}

uint32_t Recorder::framesSinceTrigger(SimTime now) const
{
    if (!triggered_ || !counting()) {
        return 0;
    }
    const uint64_t frames = framesIn(progressTime(now) - triggeredAt_, plan_.frameRate);
    return static_cast<uint32_t>(std::min<uint64_t>(frames, postTriggerFrames()));
}

} // namespace hxsim
