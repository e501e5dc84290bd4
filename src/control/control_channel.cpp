// Control channel: register and memory exchanges of an operations object through HxComm.
#include "control/control_channel.h"

#include "control/hx_comm.h"

namespace halvex::control {

using wire::RegisterPairs;

ControlChannel::ControlChannel(uint32_t cameraAddress) : address_(cameraAddress) {}

uint32_t ControlChannel::readReg(uint32_t reg, uint32_t& value)
{
    return HxComm::readReg(address_, reg, value);
}

uint32_t ControlChannel::writeReg(uint32_t reg, uint32_t value)
{
    return HxComm::writeReg(address_, reg, value);
}

uint32_t ControlChannel::readMultiReg(RegisterPairs& pairs)
{
    return HxComm::readMultiReg(address_, pairs);
}

uint32_t ControlChannel::writeMultiReg(const RegisterPairs& pairs)
{
    return HxComm::writeMultiReg(address_, pairs);
}

uint32_t ControlChannel::readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count)
{
    return HxComm::readMem(address_, start, data, count);
}

uint32_t ControlChannel::writeMem(uint32_t start, const std::vector<uint8_t>& data)
{
    return HxComm::writeMem(address_, start, data);
}

// A channel that was never started is not faulted: the first request starts it.
bool ControlChannel::faulted() const
{
    return HxComm::isKnown(address_) && HxComm::isFaulted(address_);
}

void ControlChannel::release()
{
    HxComm::recycle(address_);
}

std::shared_ptr<RegisterChannel> controlChannelFor(uint32_t address)
{
    return std::make_shared<ControlChannel>(address);
}

uint32_t ControlChannel::writeBriefly(const RegisterPairs& pairs)
{
    return HxComm::writeBriefly(address_, pairs);
}

} // namespace halvex::control
