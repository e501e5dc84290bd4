// Register channel: the defaults shared by every implementation.
#include "control/register_channel.h"

#include "control/hx_comm.h"
#include "control/hx_notification.h"

namespace halvex::control {

using wire::RegisterPairs;

RegisterChannel::~RegisterChannel() = default;

namespace {

std::string describeFailure(const char* call, uint32_t result)
{
    return std::string("HxComm::") + call + " was not successful [" + std::to_string(static_cast<int>(result)) + "]";
}

} // namespace

std::string describeWriteRegFailure(uint32_t result)
{
    return describeFailure("writeReg", result);
}

std::string describeWriteMultiRegFailure(uint32_t result)
{
    return describeFailure("writeMultiReg", result);
}

bool RegisterChannel::faulted() const
{
    return false;
}

uint32_t RegisterChannel::writeBriefly(const RegisterPairs& pairs)
{
    if (pairs.size() == 1)
        return writeReg(pairs.front().address, pairs.front().value);
    return writeMultiReg(pairs);
}

uint32_t RegisterChannel::writeMem(uint32_t /*start*/, const std::vector<uint8_t>& /*data*/)
{
    return 6;
}

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

uint64_t RegisterChannel::stampRead(uint32_t cameraAddress)
{
    HxComm::catchUpEvents(cameraAddress);
    return control::orderStamp();
}

} // namespace halvex::control
