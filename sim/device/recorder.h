// The recording state machine: idle, armed, triggered, review and the brief busy state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/device/sim_time.h"
#include "sim/frames/frame_store.h"

namespace hxsim {

// Values of the camera state register.
enum class CameraState : uint32_t { Idle = 1, Armed = 2, Triggered = 4, Review = 8, Busy = 64 };

// Values written to the state command register.
namespace StateCommand {
inline constexpr uint32_t kIdle = 1;
inline constexpr uint32_t kArm = 2;
inline constexpr uint32_t kTrigger = 4;
inline constexpr uint32_t kBusy = 64;
} // namespace StateCommand

// Values of the partition state register.
namespace PartitionState {
inline constexpr uint32_t kEmpty = 0;
inline constexpr uint32_t kRecording = 1;
inline constexpr uint32_t kRecorded = 3;
} // namespace PartitionState

std::string_view stateName(CameraState state);

// What a recording will be, fixed when the camera arms.
struct RecordPlan {
    uint32_t length = 1;        // frames
    uint32_t triggerFrames = 0; // frames kept from before the trigger
    uint32_t frameRate = 24;
    FrameGeometry geometry;
};

// Frames are counted from the arm time at the plan's frame rate. On the trigger the camera
// keeps up to triggerFrames of what it recorded so far and records length - triggerFrames more;
// then it enters review holding a recording of (kept + post-trigger) frames whose trigger frame
// is the number kept. A busy period ends in idle on its own. Commands that make no sense in the
// current state are ignored.
class Recorder {
public:
    static constexpr SimTime kBusyTime = std::chrono::milliseconds(100);

    // The state a command leads to from `from`, or nothing when the command is ignored there.
    static std::optional<CameraState> transition(CameraState from, uint32_t command);

    CameraState state() const { return state_; }
    uint32_t partitionState() const;

    // Applies a state command at `now` (after advancing to it); false when it was ignored.
    bool command(uint32_t command, SimTime now, const RecordPlan& plan);
    // Carries out the transitions that are due by `now`. Returns true when the state changed.
    bool advance(SimTime now);
    // When the next transition of its own is due, or kNever.
    SimTime nextChange() const;

    // Progress of the current arm, frozen once review is reached; 0 in idle and busy.
    uint32_t framesSinceArm(SimTime now) const;     // capped at the record length
    uint32_t framesSinceTrigger(SimTime now) const; // capped at the post-trigger frames
    uint64_t framesSinceArmUncapped(SimTime now) const;
    const RecordPlan& plan() const { return plan_; }
    uint32_t recordingsMade() const { return serial_; }

    // The recording made by the last arm, present in review.
    const std::optional<Recording>& recording() const { return recording_; }

private:
    void arm(SimTime now, const RecordPlan& plan);
    void trigger(SimTime now);
    void enterReview();
    SimTime progressTime(SimTime now) const;
    bool counting() const;
    uint32_t postTriggerFrames() const { return plan_.length - plan_.triggerFrames; }

    CameraState state_ = CameraState::Idle;
    RecordPlan plan_;
    SimTime armedAt_{0};
    SimTime triggeredAt_{0};
    SimTime frozenAt_ = kNever; // progress stops counting here (review reached or aborted)
    SimTime busyUntil_{0};
    uint32_t keptBeforeTrigger_ = 0;
    bool armedOnce_ = false;
    bool triggered_ = false;
    uint32_t serial_ = 0;
    std::optional<Recording> recording_;
};

} // namespace hxsim
