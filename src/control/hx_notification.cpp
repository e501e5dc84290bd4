// Camera notifications: where event reports and stray discovery replies of a channel are delivered.
#include "control/hx_notification.h"

#include <mutex>
#include <utility>

namespace HX_COMM {
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

void setNotificationTarget(NotificationTarget target)
{
    std::lock_guard<std::mutex> guard(receivers().lock);
    receivers().notificationTarget = std::move(target);
}

// The lookup runs outside the lock: it may create the receiver, which may take other locks.
std::shared_ptr<HLV_THREAD::MsgThread> notificationTarget(uint32_t cameraAddress)
{
    NotificationTarget target;
    {
        std::lock_guard<std::mutex> guard(receivers().lock);
        target = receivers().notificationTarget;
    }
    return target ? target(cameraAddress) : nullptr;
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

} // namespace HX_COMM
