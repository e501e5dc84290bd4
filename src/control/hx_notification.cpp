// Camera notifications: where event reports and stray discovery replies of a channel are delivered.
#include "control/hx_notification.h"
#include "control/control_message_ids.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace halvex::control {

namespace {

// Allocated once and never destroyed: channels may still deliver while the process exits.
struct Receivers {
    std::mutex lock;
    NotificationTarget notificationTarget;
    DiscoveryReplySink discoveryReplySink;
};

Receivers& receivers()
{
    static auto* instance = new Receivers;
    return *instance;
}

} // namespace

uint64_t orderStamp()
{
    static std::atomic<uint64_t> count{0};
    return ++count;
}

bool eventsMissed(std::optional<uint16_t> last, uint16_t received)
{
    if (!last || received == *last)
        return false;
    const uint16_t expected = *last == 0xFFFF ? 1 : static_cast<uint16_t>(*last + 1);
    return received != expected;
}

void setNotificationTarget(NotificationTarget target)
{
    std::lock_guard<std::mutex> guard(receivers().lock);
    receivers().notificationTarget = std::move(target);
}

// The lookup runs outside the lock: it may create the receiver, which may take other locks.
std::shared_ptr<thread::MsgThread> notificationTarget(uint32_t cameraAddress)
{
    NotificationTarget target;
    {
        std::lock_guard<std::mutex> guard(receivers().lock);
        target = receivers().notificationTarget;
    }
    return target ? target(cameraAddress) : nullptr;
}

bool announceReturn(uint32_t cameraAddress, bool certain)
{
    const std::shared_ptr<thread::MsgThread> target = notificationTarget(cameraAddress);
    if (!target)
        return false;
    auto* message = new thread::Message;
    message->req = certain ? message_ids::CAMERA_RETURNED_MSG : message_ids::CAMERA_ANSWERS_AFTER_TIME_OUT_MSG;
    message->owner = target.get();
    target->post(message);
    return true;
}

void setDiscoveryReplySink(DiscoveryReplySink sink)
{
    std::lock_guard<std::mutex> guard(receivers().lock);
    receivers().discoveryReplySink = std::move(sink);
}

bool deliverDiscoveryReply(uint32_t cameraAddress, std::span<const uint8_t> datagram)
{
    DiscoveryReplySink sink;
    {
        std::lock_guard<std::mutex> guard(receivers().lock);
        sink = receivers().discoveryReplySink;
    }
    if (!sink)
        return false;
    sink(cameraAddress, datagram);
    return true;
}

} // namespace halvex::control
