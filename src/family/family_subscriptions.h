// Family subscriptions: the host's subscriptions to a register-based family's camera, the
// camera's notifications into the register caches, and the events that follow for subscribers.
#pragma once

#include <memory>

#include <hlv_thread/log_label.h>

#include "callback/callback_messages.h"
#include "family/family_camera.h"
#include "family/restart_watch.h"

namespace halvex::camera {
class SubscriptionMessage;
} // namespace halvex::camera

namespace halvex::thread {
class Message;
}

namespace halvex::family {

class FamilyProgress;
class FamilyRecordsTable;
class FamilyStreaming;
namespace pollers {
class PollerControl;
}

// Threads: the camera's service thread.
class FamilySubscriptions {
    HLV_LOG_CLASS(FamilySubscriptions);

public:
    FamilySubscriptions(FamilyCamera& camera, FamilyRecordsTable& records, FamilyProgress& progress,
                        pollers::PollerControl& pollers, FamilyStreaming& streaming);

    // Counts the subscriber in or out; the first tells the camera where to send its events, the
    // last clears that again.
    void handleSubscription(camera::SubscriptionMessage& message);
    // Stores the reported (or polled) values and posts the changes they make to subscribers.
    void handleNotification(thread::Message& message);
    // The camera answers again after it was away: events, heartbeat time-out and a wanted live
    // stream are set up again, and subscribers get the camera's state as it is.
    void cameraReturned();
    // Reads the camera's message channel back once; a cleared one means it restarted.
    void cameraMayHaveRestarted();
    // Starts the restart watch on the camera's service thread, if it does not run yet (at the
    // first subscription and whenever the heartbeat poller starts).
    void watchForRestart();
    // Stops the restart watch, whose check reaches the family's overrides: a family's destructor
    // calls it before its own members go.
    void stopRestartWatch();

private:
    void subscribe();
    void unsubscribe();
    // Once per heartbeat period while subscribed or streaming (service thread): reads back what
    // the host set up on the camera, and sets everything up again when the camera has lost it.
    void checkForRestart();
    std::unique_ptr<callback::CallbackRequest> lensChange();

    FamilyCamera& camera_;
    FamilyRecordsTable& records_;
    FamilyProgress& progress_;
    pollers::PollerControl& pollers_;
    FamilyStreaming& streaming_;
    // Declared last, so that it stops before anything its check uses goes.
    pollers::RestartWatch restartWatch_;
};

} // namespace halvex::family
