// Register channel: the defaults shared by every implementation.
#include "register_channel.h"

#include "hx_comm.h"

RegisterChannel::~RegisterChannel() = default;

bool RegisterChannel::faulted() const { return false; }

void RegisterChannel::release() {}

RegisterChannel::EventRoute RegisterChannel::eventRoute(uint32_t cameraAddress)
{
    return EventRoute{HxComm::localAddressToward(cameraAddress), HxComm::hmpPort(cameraAddress)};
}

std::optional<uint64_t> RegisterChannel::activityCount(uint32_t cameraAddress) const
{
    if (!HxComm::isKnown(cameraAddress))
        return std::nullopt;
    return HxComm::activityCount(cameraAddress);
}
