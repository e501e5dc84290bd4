// Family subscriptions: subscribers counted, the camera's message channel set and cleared, and
// notifications turned into change events.
#include "family/family_subscriptions.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "camera/camera_services.h"
#include "camera/subscription.h"
#include "control/hx_notification.h"
#include "family/family_progress.h"
#include "family/notifications.h"
#include "family/operation_labels.h"
#include "family/pollers.h"
#include "family/records_table.h"
#include "family/streaming.h"
#include "registers/register_map.h"

namespace halvex::family {

using camera::CameraServices;
using camera::SubscriptionMessage;
using control::RegisterChannel;
using wire::RegisterPairs;

using namespace registers;
using record_rows::bit;
using thread::TRACE_OPERATIONS;

FamilySubscriptions::FamilySubscriptions(FamilyCamera& camera, FamilyRecordsTable& records, FamilyProgress& progress,
                                         pollers::PollerControl& pollers, FamilyStreaming& streaming)
    : camera_(camera), records_(records), progress_(progress), pollers_(pollers), streaming_(streaming),
      restartWatch_([this] { checkForRestart(); })
{
}

void FamilySubscriptions::handleSubscription(SubscriptionMessage& message)
{
    static constexpr const char* method = HLV_LABEL("handleSubscription");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", labels::SUBSCRIPTION, camera_.name.c_str());
    if (!message.service.lock())
        HLV_THROW(thread::RuntimeError, "msg->camera_services is no longer valid!");
    if (message.subscribe)
        subscribe();
    else
        unsubscribe();
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): done", method, camera_.name.c_str());
}

// The first subscriber tells the camera where to send its events and fills every cache; every
// subscriber then receives the camera's current state as events. Later subscribers leave the
// message channel as it is: another host may have set it since, and would lose its events.
void FamilySubscriptions::subscribe()
{
    static constexpr const char* method = HLV_LABEL("handleSubscription");
    uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        count = camera_.subscriptions;
    }
    HLV_TRACE(TRACE_OPERATIONS, "%s: Subscribe, count=%d", method, count);
    const RegisterChannel::EventRoute route = camera_.channel.eventRoute(camera_.address);
    if (route.port == 0)
        HLV_THROW(thread::RuntimeError, "Unexpectedly null HxComm pointer!");
    if (count == 0) {
        const RegisterPairs destination{{GIGE_REG_MCDA, route.address}, {GIGE_REG_MCP, route.port}};
        if (const uint32_t result = camera_.channel.writeMultiReg(destination); result != 0) {
            HLV_THROW(thread::RuntimeError, "%s(%s): Unable to set the camera's message channel [%d]", method,
                      camera_.name.c_str(), static_cast<int>(result));
        }
        const std::vector<bool> unread = records_.refreshEveryCache();
        progress_.checkProgressPoller();
        if (std::find(unread.begin(), unread.end(), true) != unread.end()) {
            // The subscriber would start from records the camera never reported; the camera is
            // not left sending events to a subscription that failed.
            camera_.channel.writeMultiReg({{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}});
            HLV_THROW(thread::RuntimeError, "%s(%s): The camera's settings could not be read; not subscribed", method,
                      camera_.name.c_str());
        }
    }
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        ++camera_.subscriptions;
    }
    watchForRestart();
    records_.postCurrentState();
}

// The camera was away (lost, or silent past a time-out) and may have restarted meanwhile, which
// clears its message channel and heartbeat time-out and stops its stream; the events it sent
// while away are lost. Whatever the host had set up is set up again, so events flow and a wanted
// live stream runs without any call from the host; subscribers get the camera's state as it is.
void FamilySubscriptions::cameraReturned()
{
    static constexpr const char* method = HLV_LABEL("cameraReturned");
    uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        count = camera_.subscriptions;
    }
    HLV_LOG("%s(%s): The camera answers again (subscribers: %d)", method, camera_.name.c_str(),
            static_cast<int>(count));
    if (count != 0) {
        const RegisterChannel::EventRoute route = camera_.channel.eventRoute(camera_.address);
        const RegisterPairs destination{{GIGE_REG_MCDA, route.address}, {GIGE_REG_MCP, route.port}};
        if (route.port == 0 || camera_.channel.writeMultiReg(destination) != 0) {
            HLV_LOG("%s(%s): Unable to set the camera's message channel again", method, camera_.name.c_str());
            return; // it is away again: its next return tries once more
        }
        const std::vector<bool> unread = records_.refreshEveryCache();
        progress_.checkProgressPoller();
        records_.postCurrentState(unread);
    }
    pollers_.restoreHeartBeatTimeout();
    streaming_.resumeLiveStream();
}

// A camera that restarted has cleared its message channel, which subscribers rely on: the
// channel is read back once, and everything set up again when it was cleared. One exchange, and
// only while subscribed; a camera that did not answer this either is asked after its next time-out.
void FamilySubscriptions::cameraMayHaveRestarted()
{
    static constexpr const char* method = HLV_LABEL("cameraMayHaveRestarted");
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        if (camera_.subscriptions == 0)
            return;
    }
    RegisterPairs channelNow{{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}};
    if (const uint32_t result = camera_.channel.readMultiReg(channelNow); result != 0) {
        HLV_LOG("%s(%s): Unable to read the camera's message channel [%d]", method, camera_.name.c_str(),
                static_cast<int>(result));
        return;
    }
    if (channelNow[0].value != 0 && channelNow[1].value != 0)
        return;
    HLV_LOG("%s(%s): The camera's message channel is cleared: it restarted", method, camera_.name.c_str());
    cameraReturned();
}

void FamilySubscriptions::watchForRestart()
{
    if (!restartWatch_.started())
        restartWatch_.start(CameraServices::find(camera_.address));
}

void FamilySubscriptions::stopRestartWatch()
{
    restartWatch_.stop();
}

// A restart clears the message channel and puts the heartbeat time-out back to the camera's
// default; what the host set (a subscription, a stream's heartbeat) is read back in one exchange,
// and nothing at all is read while the host has set neither up. A camera that does not answer is
// left to the time-out and give-up paths, which set it up again when it answers.
void FamilySubscriptions::checkForRestart()
{
    static constexpr const char* method = HLV_LABEL("checkForRestart");
    bool subscribed = false;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        subscribed = camera_.subscriptions != 0;
    }
    const bool beating = pollers_.heartBeatRunning();
    if ((!subscribed && !beating) || camera_.operations.channelFaulted())
        return;
    RegisterPairs setUp{{GIGE_REG_MCP, 0}, {GIGE_REG_HEARTBEAT_TIMEOUT, 0}};
    if (camera_.channel.readMultiReg(setUp) != 0)
        return;
    const bool eventsForgotten = subscribed && setUp[0].value == 0;
    const bool heartbeatForgotten = beating && setUp[1].value != pollers::PollerControl::HEARTBEAT_TIMEOUT_MS;
    if (!eventsForgotten && !heartbeatForgotten)
        return;
    HLV_LOG("%s(%s): The camera no longer holds its %s: it restarted", method, camera_.name.c_str(),
            eventsForgotten ? "message channel" : "heartbeat time-out");
    cameraReturned();
}

// The last subscriber leaving stops the camera's events; the caches stay, no longer trusted.
void FamilySubscriptions::unsubscribe()
{
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        HLV_TRACE(TRACE_OPERATIONS, "%s: Unsubscribe, count=%d", HLV_LABEL("handleSubscription"),
                  camera_.subscriptions);
        if (camera_.subscriptions == 0)
            return;
        last = --camera_.subscriptions == 0;
    }
    if (!last)
        return;
    if (const uint32_t result = camera_.channel.writeMultiReg({{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}}); result != 0) {
        HLV_LOG("%s(%s): Unable to clear the camera's message channel [%d]", HLV_LABEL("handleSubscription"),
                camera_.name.c_str(), static_cast<int>(result));
    }
}

// Stores each reported value in every group that holds its register, recomputes the records of
// the groups that changed in the same hold of the state mutex (so that a reader never finds new
// register values beside an old record), then posts one event per changed record. Without
// subscribers the caches are kept up to date but no event is made: nobody would receive it.
// Values of a progress poller stopped since it read them are older than what its stop read; a
// value read from the camera after the notification's values were known is newer and stays.
void FamilySubscriptions::handleNotification(thread::Message& message)
{
    auto* notification = dynamic_cast<control::NotificationMessage*>(&message);
    if (notification == nullptr) {
        HLV_LOG("%s: Unexpectedly null notification message!", HLV_LABEL("handleNotification"));
        message.status = thread::MESSAGE_FAILED;
        return;
    }
    if (notification->poll != 0 && !pollers_.currentPoll(notification->poll)) {
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Dropped the values of stopped poller %llu",
                  HLV_LABEL("handleNotification"), camera_.name.c_str(),
                  static_cast<unsigned long long>(notification->poll));
        return;
    }
    uint32_t marked = 0;
    bool subscribed = false;
    std::vector<std::pair<uint32_t, std::unique_ptr<callback::CallbackRequest>>> changes;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        // Some change went unreported: no cache is trusted until it has been read again.
        if (notification->eventsMissed)
            records_.distrustAllLocked();
        marked = records_.storeNotified(notification->pairs, notification->known);
        subscribed = camera_.subscriptions != 0;
        for (uint32_t event : record_rows::CHANGE_ORDER) {
            // The lens record is read outside the mutex: another family reads it from the camera.
            if (subscribed && (marked & bit(event)) != 0)
                changes.emplace_back(event, event == HX_LENS_CHANGE ? nullptr : records_.changeLocked(event));
        }
    }
    if (!subscribed) {
        // Nor does the camera report its state then: the end of a polled recording is found by
        // reading the state along, which stops the poller.
        if ((marked & bit(HX_PROGRESS_UPDATE)) != 0)
            camera_.operations.getCommand(nullptr);
        return;
    }
    for (auto& [event, request] : changes) {
        if (event == HX_LENS_CHANGE)
            request = lensChange();
        if (request)
            callback::Callback::postOwned(std::move(request));
        if (event == HX_STATE || event == HX_PLAYBACK_CHANGE)
            progress_.checkProgressPoller();
    }
}

std::unique_ptr<callback::CallbackRequest> FamilySubscriptions::lensChange()
{
    try {
        HX_LENS_STATUS lens;
        HX_lens_status_init(&lens, sizeof(lens));
        camera_.operations.getLensStatus(&lens);
        return events::event(HX_LENS_CHANGE, camera_.address, lens);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): No %s: %s", HLV_LABEL("handleNotification"), camera_.name.c_str(), "HX_LENS_CHANGE",
                error.str().c_str());
    }
    return nullptr;
}

} // namespace halvex::family
