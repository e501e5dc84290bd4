// Camera notifications: register values a camera reported, on their way to its service thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "control/control_message_ids.h"
#include "control/hx_comm_messages.h"
#include "hlv_thread/message.h"
#include "hlv_thread/msg_thread.h"

namespace halvex::control {

// A process-wide count that orders what the host learns of its cameras' registers: when an event
// datagram arrived, when a register read was sent. A value known from an earlier moment must not
// replace one known from a later moment. Safe from any thread; never 0.
uint64_t orderStamp();

// Register values reported by a camera, in the order they were reported. An event datagram
// brings one pair; the register poller brings several at once; consumers treat both alike.
class NotificationMessage : public thread::Message {
public:
    explicit NotificationMessage(wire::RegisterPairs list) : pairs(std::move(list))
    {
        req = message_ids::NOTIFICATION_MSG;
    }
    wire::RegisterPairs pairs;
    // Events the camera sent before this one never arrived: values the host holds may be stale.
    bool eventsMissed = false;
    // The number of the progress poller that read these values; 0 for the camera's own reports.
    uint64_t poll = 0;
    // When the values were known (orderStamp): an event's arrival, a poller's read.
    uint64_t known = orderStamp();
};

// True when an event with counter `received` shows that events after `last` were lost. Cameras
// count events from 1 and skip 0 when the counter wraps; a repeated counter (a duplicate) or the
// first event a channel sees is no gap.
bool eventsMissed(std::optional<uint16_t> last, uint16_t received);

// Finds the thread that receives a camera's notifications (its service thread), creating it if
// that is the receiver's rule; an empty pointer drops the notification. The receiver becomes
// the notification's owner, so its ownerMessage sees it.
using NotificationTarget = std::function<std::shared_ptr<thread::MsgThread>(uint32_t cameraAddress)>;

// Installs the receiver lookup (the camera services install theirs at start-up); an empty
// function drops notifications. Safe from any thread.
void setNotificationTarget(NotificationTarget target);
// The current receiver for a camera, or an empty pointer.
std::shared_ptr<thread::MsgThread> notificationTarget(uint32_t cameraAddress);

// Tells the camera's service thread that the camera answers again after it was lost or stayed
// silent past a request's time-out: it may have restarted meanwhile, and its events may have been
// lost. False when there is no receiver. Safe from any thread that holds no channel lock.
// With `certain` false the camera missed fewer answers than make an absence, and the service only
// checks whether it restarted.
bool announceReturn(uint32_t cameraAddress, bool certain = true);

// Takes discovery replies that arrive on a camera's control socket: (camera address, datagram).
using DiscoveryReplySink = std::function<void(uint32_t cameraAddress, std::span<const uint8_t> datagram)>;
// Installs the sink (discovery installs its own); an empty function drops such replies.
void setDiscoveryReplySink(DiscoveryReplySink sink);
// Passes a reply to the sink; false when none is installed.
bool deliverDiscoveryReply(uint32_t cameraAddress, std::span<const uint8_t> datagram);

} // namespace halvex::control
