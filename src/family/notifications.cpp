// Family notifications: event names, and the progress record computed from the progress group.
#include "family/notifications.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/commands.h"
#include "family/merge.h"
#include "registers/register_map.h"

namespace halvex::family {

using namespace registers;

namespace {

constexpr uint32_t TRIGGER_IN_FRAMES = 1u << 31;

} // namespace

namespace events {

const char* eventName(uint32_t event)
{
    switch (event) {
    case HX_CAPTURE_CHANGE: return "HX_CAPTURE_CHANGE";
    case HX_STATE: return "HX_STATE";
    case HX_DOWNLOAD_CHANGE: return "HX_DOWNLOAD_CHANGE";
    case HX_IO_CHANGE: return "HX_IO_CHANGE";
    case HX_LENS_CHANGE: return "HX_LENS_CHANGE";
    case HX_PLAYBACK_CHANGE: return "HX_PLAYBACK_CHANGE";
    case HX_STREAM_CHANGE: return "HX_STREAM_CHANGE";
    case HX_PROGRESS_UPDATE: return "HX_PROGRESS_UPDATE";
    default: return "unknown event";
    }
}

uint32_t computeProgress(RegisterCache& progress, uint32_t cameraState, uint32_t recordLength, uint32_t lastState,
                         HX_PROGRESS& record)
{
    using namespace family::commands;
    if (cameraState != lastState && cameraState != STATE_REVIEW)
        return cameraState;
    if (cameraState != STATE_ARM && cameraState != STATE_TRIGGER && cameraState != STATE_REVIEW)
        return cameraState;
    const uint64_t sinceArm = progress[GIGE_REG_PROGRESS_C08C];
    uint64_t recorded = progress[GIGE_REG_PROGRESS_C090];
    uint64_t trigger = 0;
    if (cameraState == STATE_REVIEW) {
        trigger = progress[GIGE_REG_PROGRESS_C180];
    } else {
        // The trigger position is frames with bit 31 set, otherwise a percentage of the length.
        const uint32_t position = progress[GIGE_REG_TRIGGER_POSITION];
        trigger = (position & TRIGGER_IN_FRAMES) != 0 ? position & ~TRIGGER_IN_FRAMES
                                                      : uint64_t{position} * record.total_frames / 100;
        if (cameraState == STATE_ARM)
            recorded = std::min(sinceArm, trigger);
    }
    if (cameraState != STATE_ARM)
        recorded += trigger;
    record.error = 0;
    record.total_frames = recordLength;
    record.trigger_frames = static_cast<uint32_t>(std::min<uint64_t>(recordLength, trigger));
    record.recorded_frames = static_cast<uint32_t>(std::min<uint64_t>(recordLength, recorded));
    return cameraState;
}

void mergeProgress(const HX_PROGRESS& cached, HX_PROGRESS& caller)
{
    using R = HX_PROGRESS;
    family::merge::mergeGroup(
        cached, caller,
        {&R::error, &R::total_frames, &R::trigger_frames, &R::recorded_frames, &R::percent, &R::camera_progress},
        {&R::flags});
}

} // namespace events

} // namespace halvex::family

// --- Cache trust ------------------------------------------------------------------------------

// --- Subscriptions ----------------------------------------------------------------------------

// --- A camera that answers again ------------------------------------------------------------

// --- Notifications ----------------------------------------------------------------------------
