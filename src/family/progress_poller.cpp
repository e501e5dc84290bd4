// Progress poller: the polled registers read and posted to the service thread.
#include "family/progress_poller.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "camera/camera_address.h"
#include "camera/camera_services.h"
#include "control/hx_notification.h"
#include "family/commands.h"
#include "registers/register_map.h"

namespace halvex::family {

using camera::CameraServices;
using control::RegisterChannel;
using wire::RegisterPairs;

using namespace registers;
using thread::TRACE_OPERATIONS;

namespace {

bool polledState(uint32_t state)
{
    using namespace commands;
    return state == STATE_ARM || state == STATE_TRIGGER || state == STATE_REVIEW || state == STATE_BUSY;
}

} // namespace

namespace pollers {

ProgressPoller::ProgressPoller(uint32_t cameraAddress, uint32_t cameraState, RegisterChannel& channel,
                               uint32_t periodMicroseconds, uint64_t poll)
    : Timer(periodMicroseconds), cameraAddress_(cameraAddress), cameraState_(cameraState), poll_(poll),
      channel_(channel)
{
}

ProgressPoller::~ProgressPoller()
{
    stop();
}

void ProgressPoller::setRegisters(std::vector<uint32_t> registers)
{
    std::lock_guard<std::mutex> lock(registersLock_);
    registers_ = std::move(registers);
}

std::vector<uint32_t> ProgressPoller::registers() const
{
    std::lock_guard<std::mutex> lock(registersLock_);
    return registers_;
}

void ProgressPoller::tick()
{
    if (!polledState(cameraState_)) {
        HLV_LOG("%s: Unexpected camera state [0x%x]", "FAMILY_POLLERS::ProgressPoller::tick", cameraState_);
        return;
    }
    RegisterPairs pairs;
    for (uint32_t reg : registers())
        pairs.push_back({reg, 0});
    const uint64_t known = channel_.stampRead(cameraAddress_);
    if (pairs.empty() || channel_.readMultiReg(pairs) != 0)
        return;
    std::shared_ptr<CameraServices> service = CameraServices::find(cameraAddress_);
    if (!service)
        return;
    auto* notification = new control::NotificationMessage(std::move(pairs));
    notification->poll = poll_;
    notification->known = known;
    notification->owner = service.get();
    service->post(notification);
}

} // namespace pollers

} // namespace halvex::family
