// Family progress: the progress record computed, stored and polled for.
#include "family/family_progress.h"

#include <memory>

#include "callback/callback.h"
#include "family/notifications.h"
#include "family/pollers.h"
#include "family/records_table.h"
#include "registers/register_map.h"

namespace halvex::family {

using namespace registers;

FamilyProgress::FamilyProgress(FamilyCamera& camera, pollers::PollerControl& pollers, FamilyRecordsTable& records)
    : camera_(camera), pollers_(pollers), records_(records)
{
}

uint32_t FamilyProgress::playMode() const
{
    std::lock_guard<std::mutex> lock(camera_.state);
    return camera_.cached.playbackSettings.mode;
}

uint32_t FamilyProgress::progressPlayMode() const
{
    return camera_.traits.pollsShownFrame ? playMode() : uint32_t{HX_PLAY_PAUSE};
}

HX_PROGRESS FamilyProgress::cachedProgress() const
{
    std::lock_guard<std::mutex> lock(camera_.state);
    return camera_.cached.progress;
}

void FamilyProgress::storeProgress(const HX_PROGRESS& record)
{
    std::lock_guard<std::mutex> lock(camera_.state);
    camera_.cached.progress = record;
    camera_.cached.progressValid = 1;
}

void FamilyProgress::computeProgressLocked()
{
    progressState_ =
        events::computeProgress(camera_.groups.registers(RegisterGroup::Progress),
                                camera_.groups.registers(RegisterGroup::State)[GIGE_REG_CAMERA_STATE],
                                camera_.cached.captureSettings.length, progressState_, camera_.cached.progress);
    camera_.cached.progressValid = 1;
}

void FamilyProgress::checkProgressPoller()
{
    const uint32_t playMode = progressPlayMode();
    uint32_t state = 0;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        state = camera_.cached.command.code;
    }
    if (pollers_.checkProgress(state, playMode))
        postFinalProgress();
}

// A recording that reached review may have grown since the last poll: subscribers are given its
// complete progress once more.
void FamilyProgress::postFinalProgress()
{
    if (!camera_.groups.refresh(RegisterGroup::Progress))
        return;
    std::unique_ptr<callback::CallbackRequest> event;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        if (camera_.subscriptions == 0)
            return;
        event = records_.changeLocked(HX_PROGRESS_UPDATE);
    }
    if (event)
        callback::Callback::postOwned(std::move(event));
}

} // namespace halvex::family
