// Tarrow notifications: subscriptions per camera, camera notifications into the register caches,
// and the change, state and progress events that follow for subscribed clients.
#include "tarrow/tarrow_notifications.h"

#include <algorithm>
#include <utility>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "camera/camera_services.h"
#include "camera/subscription.h"
#include "control/hx_notification.h"
#include "registers/register_map.h"
#include "tarrow/tarrow_commands.h"
#include "tarrow/tarrow_merge.h"
#include "tarrow/tarrow_operations.h"
#include "tarrow/tarrow_records.h"

using namespace HX_REGISTERS;
using HLV_THREAD::TRACE_OPERATIONS;
using TARROW_RECORDS::bit;

namespace {

constexpr uint32_t TRIGGER_IN_FRAMES = 1u << 31;

} // namespace

namespace TARROW_EVENTS {

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
    using namespace TARROW_COMMANDS;
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
    TARROW_MERGE::mergeGroup(
        cached, caller,
        {&R::error, &R::total_frames, &R::trigger_frames, &R::recorded_frames, &R::percent, &R::camera_progress},
        {&R::flags});
}

} // namespace TARROW_EVENTS

// --- Cache trust ------------------------------------------------------------------------------

bool TarrowOperations::cacheTrusted(uint32_t valid) const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return valid != 0 && subscriptionCount_ != 0;
}

void TarrowOperations::refreshGroupOrThrow(RegisterGroup id, const char* method)
{
    if (!refreshGroup(id)) {
        HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Unable to read the %s registers from the camera", method,
                  name_.c_str(), std::string(groupName(id)).c_str());
    }
}

// --- Subscriptions ----------------------------------------------------------------------------

void TarrowOperations::handleSubscription(SubscriptionMessage& message)
{
    static constexpr const char* method = "TarrowOperations::handleSubscription";
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (!message.service.lock())
        HLV_THROW(HLV_THREAD::RuntimeError, "msg->camera_services is no longer valid!");
    if (message.subscribe)
        subscribe();
    else
        unsubscribe();
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): done", method, name_.c_str());
}

// The first subscriber tells the camera where to send its events and fills every cache; every
// subscriber then receives the camera's current state as events. Later subscribers leave the
// message channel as it is: another host may have set it since, and would lose its events.
void TarrowOperations::subscribe()
{
    static constexpr const char* method = "TarrowOperations::handleSubscription";
    uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        count = subscriptionCount_;
    }
    HLV_TRACE(TRACE_OPERATIONS, "%s: Subscribe, count=%d", method, count);
    const RegisterChannel::EventRoute route = channel().eventRoute(address_);
    if (route.port == 0)
        HLV_THROW(HLV_THREAD::RuntimeError, "Unexpectedly null HxComm pointer!");
    if (count == 0) {
        const RegisterPairs destination{{GIGE_REG_MCDA, route.address}, {GIGE_REG_MCP, route.port}};
        if (const uint32_t result = channel().writeMultiReg(destination); result != 0) {
            HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Unable to set the camera's message channel [%d]", method,
                      name_.c_str(), static_cast<int>(result));
        }
        const std::vector<bool> unread = refreshEveryCache();
        if (std::find(unread.begin(), unread.end(), true) != unread.end()) {
            // The subscriber would start from records the camera never reported; the camera is
            // not left sending events to a subscription that failed.
            channel().writeMultiReg({{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}});
            HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): The camera's settings could not be read; not subscribed",
                      method, name_.c_str());
        }
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        ++subscriptionCount_;
    }
    watchForRestart();
    postCurrentState();
}

// --- A camera that answers again ------------------------------------------------------------

// The camera was away (lost, or silent past a time-out) and may have restarted meanwhile, which
// clears its message channel and heartbeat time-out and stops its stream; the events it sent
// while away are lost. Whatever the host had set up is set up again, so events flow and a wanted
// live stream runs without any call from the host; subscribers get the camera's state as it is.
void TarrowOperations::cameraReturned()
{
    static constexpr const char* method = "TarrowOperations::cameraReturned";
    uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        count = subscriptionCount_;
    }
    HLV_LOG("%s(%s): The camera answers again (subscribers: %d)", method, name_.c_str(), static_cast<int>(count));
    if (count != 0) {
        const RegisterChannel::EventRoute route = channel().eventRoute(address_);
        const RegisterPairs destination{{GIGE_REG_MCDA, route.address}, {GIGE_REG_MCP, route.port}};
        if (route.port == 0 || channel().writeMultiReg(destination) != 0) {
            HLV_LOG("%s(%s): Unable to set the camera's message channel again", method, name_.c_str());
            return; // it is away again: its next return tries once more
        }
        postCurrentState(refreshEveryCache());
    }
    pollers_.restoreHeartBeatTimeout();
    streaming().resumeLiveStream();
}

// A camera that restarted has cleared its message channel, which subscribers rely on: the
// channel is read back once, and everything set up again when it was cleared. One exchange, and
// only while subscribed; a camera that did not answer this either is asked after its next time-out.
void TarrowOperations::cameraMayHaveRestarted()
{
    static constexpr const char* method = "TarrowOperations::cameraMayHaveRestarted";
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (subscriptionCount_ == 0)
            return;
    }
    RegisterPairs channelNow{{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}};
    if (const uint32_t result = channel().readMultiReg(channelNow); result != 0) {
        HLV_LOG("%s(%s): Unable to read the camera's message channel [%d]", method, name_.c_str(),
                static_cast<int>(result));
        return;
    }
    if (channelNow[0].value != 0 && channelNow[1].value != 0)
        return;
    HLV_LOG("%s(%s): The camera's message channel is cleared: it restarted", method, name_.c_str());
    cameraReturned();
}

void TarrowOperations::watchForRestart()
{
    if (!restartWatch_.started())
        restartWatch_.start(CameraServices::find(address_));
}

void TarrowOperations::stopRestartWatch()
{
    restartWatch_.stop();
}

// A restart clears the message channel and puts the heartbeat time-out back to the camera's
// default; what the host set (a subscription, a stream's heartbeat) is read back in one exchange,
// and nothing at all is read while the host has set neither up. A camera that does not answer is
// left to the time-out and give-up paths, which set it up again when it answers.
void TarrowOperations::checkForRestart()
{
    static constexpr const char* method = "TarrowOperations::checkForRestart";
    bool subscribed = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        subscribed = subscriptionCount_ != 0;
    }
    const bool beating = pollers_.heartBeatRunning();
    if ((!subscribed && !beating) || channelFaulted())
        return;
    RegisterPairs setUp{{GIGE_REG_MCP, 0}, {GIGE_REG_HEARTBEAT_TIMEOUT, 0}};
    if (channel().readMultiReg(setUp) != 0)
        return;
    const bool eventsForgotten = subscribed && setUp[0].value == 0;
    const bool heartbeatForgotten = beating && setUp[1].value != TARROW_OPERATIONS::PollerControl::HEARTBEAT_TIMEOUT_MS;
    if (!eventsForgotten && !heartbeatForgotten)
        return;
    HLV_LOG("%s(%s): The camera no longer holds its %s: it restarted", method, name_.c_str(),
            eventsForgotten ? "message channel" : "heartbeat time-out");
    cameraReturned();
}

// The last subscriber leaving stops the camera's events; the caches stay, no longer trusted.
void TarrowOperations::unsubscribe()
{
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        HLV_TRACE(TRACE_OPERATIONS, "%s: Unsubscribe, count=%d", "TarrowOperations::handleSubscription",
                  subscriptionCount_);
        if (subscriptionCount_ == 0)
            return;
        last = --subscriptionCount_ == 0;
    }
    if (!last)
        return;
    if (const uint32_t result = channel().writeMultiReg({{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}}); result != 0) {
        HLV_LOG("%s(%s): Unable to clear the camera's message channel [%d]", "TarrowOperations::handleSubscription",
                name_.c_str(), static_cast<int>(result));
    }
}

// --- Notifications ----------------------------------------------------------------------------

// Stores each reported value in every group that holds its register, recomputes the records of
// the groups that changed in the same hold of the state mutex (so that a reader never finds new
// register values beside an old record), then posts one event per changed record. Without
// subscribers the caches are kept up to date but no event is made: nobody would receive it.
// Values of a progress poller stopped since it read them are older than what its stop read; a
// value read from the camera after the notification's values were known is newer and stays.
void TarrowOperations::handleNotification(HLV_THREAD::Message& message)
{
    auto* notification = dynamic_cast<HX_COMM::NotificationMessage*>(&message);
    if (notification == nullptr) {
        HLV_LOG("%s: Unexpectedly null notification message!", "TarrowOperations::handleNotification");
        message.status = HLV_THREAD::MESSAGE_FAILED;
        return;
    }
    if (notification->poll != 0 && !pollers_.currentPoll(notification->poll)) {
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Dropped the values of stopped poller %llu",
                  "TarrowOperations::handleNotification", name_.c_str(),
                  static_cast<unsigned long long>(notification->poll));
        return;
    }
    uint32_t marked = 0;
    bool subscribed = false;
    std::vector<std::pair<uint32_t, std::unique_ptr<HLV_CALLBACK::CallbackRequest>>> changes;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        // Some change went unreported: no cache is trusted until it has been read again.
        if (notification->eventsMissed) {
            for (const TARROW_RECORDS::Record& entry : records_) {
                if (entry.setValid)
                    entry.setValid(0);
            }
        }
        marked = storeNotified(notification->pairs, notification->known);
        subscribed = subscriptionCount_ != 0;
        for (uint32_t event : TARROW_RECORDS::CHANGE_ORDER) {
            // The lens record is read outside the mutex: another family reads it from the camera.
            if (subscribed && (marked & bit(event)) != 0)
                changes.emplace_back(event, event == HX_LENS_CHANGE ? nullptr : changeLocked(event));
        }
    }
    if (!subscribed) {
        // Nor does the camera report its state then: the end of a polled recording is found by
        // reading the state along, which stops the poller.
        if ((marked & bit(HX_PROGRESS_UPDATE)) != 0)
            getCommand(nullptr);
        return;
    }
    for (auto& [event, request] : changes) {
        if (event == HX_LENS_CHANGE)
            request = lensChange();
        if (request)
            HLV_CALLBACK::Callback::postOwned(std::move(request));
        if (event == HX_STATE || event == HX_PLAYBACK_CHANGE)
            checkProgressPoller(progressPlayMode());
    }
}

std::unique_ptr<HLV_CALLBACK::CallbackRequest> TarrowOperations::lensChange()
{
    try {
        HX_LENS_STATUS lens;
        HX_lens_status_init(&lens, sizeof(lens));
        getLensStatus(&lens);
        return TARROW_EVENTS::event(HX_LENS_CHANGE, address_, lens);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): No %s: %s", "TarrowOperations::handleNotification", name_.c_str(), "HX_LENS_CHANGE",
                error.str().c_str());
    }
    return nullptr;
}

HX_PROGRESS TarrowOperations::cachedProgress() const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return progress_;
}

void TarrowOperations::storeProgress(const HX_PROGRESS& record)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    progress_ = record;
    progressValid_ = 1;
}

void TarrowOperations::computeProgressLocked()
{
    progressState_ = TARROW_EVENTS::computeProgress(groups_.registers(RegisterGroup::Progress),
                                                    groups_.registers(RegisterGroup::State)[GIGE_REG_CAMERA_STATE],
                                                    captureSettings_.length, progressState_, progress_);
    progressValid_ = 1;
}
