// A stand-in camera behind the register channel interface, answered by the camera's request handler.
#include "sim_channel.h"

#include "registers/register_map.h"
#include "wire/control_packet.h"
#include "wire/event_packet.h"

using namespace halvex::control;
using namespace halvex::wire;

namespace hx_test {

namespace {

const hxsim::Endpoint HOST{SimChannel::HOST_ADDRESS, 5824};

} // namespace

SimChannel::SimChannel(const hxsim::CameraConfig& config) : config_(config), core_(config) {}

std::vector<uint8_t> SimChannel::exchange(const std::vector<uint8_t>& datagram)
{
    ++datagrams_;
    const std::vector<hxsim::Outgoing> sent = core_.handle(datagram, HOST, now_);
    keepEvents(sent);
    for (const hxsim::Outgoing& out : sent)
        if (out.channel == hxsim::FaultChannel::Control)
            return out.bytes;
    return {};
}

void SimChannel::keepEvents(const std::vector<hxsim::Outgoing>& sent)
{
    for (const hxsim::Outgoing& out : sent) {
        if (out.channel != hxsim::FaultChannel::Events)
            continue;
        const halvex::wire::EventDecodeResult event = halvex::wire::decodeEventData(out.bytes);
        if (event.check == halvex::wire::EventCheck::Ok)
            events_.push_back({event.event.eventId, event.event.value});
    }
}

uint32_t SimChannel::readReg(uint32_t reg, uint32_t& value)
{
    RegisterPairs pairs{{reg, 0}};
    const uint32_t result = readMultiReg(pairs);
    value = pairs.front().value;
    return result;
}

uint32_t SimChannel::readMultiReg(RegisterPairs& pairs)
{
    std::lock_guard<std::mutex> lock(lock_);
    if (failure_ != 0)
        return failure_;
    if (readFailure_ != 0)
        return readFailure_;
    std::vector<uint32_t> addresses;
    for (const auto& pair : pairs)
        addresses.push_back(pair.address);
    const auto ack = halvex::wire::decodeReadRegAck(exchange(halvex::wire::encodeReadRegCmd(addresses, ++requestId_)));
    if (!ack)
        return halvex::wire::control_result::kBusy;
    if (ack->header.status != 0)
        return halvex::wire::controlResultFromStatus(ack->header.status);
    for (std::size_t i = 0; i < pairs.size() && i < ack->values.size(); ++i)
        pairs[i].value = ack->values[i];
    return 0;
}

uint32_t SimChannel::writeReg(uint32_t reg, uint32_t value)
{
    return write({{reg, value}}, true);
}

uint32_t SimChannel::writeMultiReg(const RegisterPairs& pairs)
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        multiWrites_.push_back(pairs);
    }
    return write(pairs, false);
}

uint32_t SimChannel::write(const RegisterPairs& pairs, bool single)
{
    std::lock_guard<std::mutex> lock(lock_);
    if (failure_ != 0)
        return failure_;
    const halvex::wire::WritePlan plan = single
                                             ? halvex::wire::planSingleWrite(pairs.front().address, pairs.front().value)
                                             : halvex::wire::planMultiWrite(pairs);
    const std::vector<uint8_t> answer =
        exchange(halvex::wire::encodeWriteRegCmd(plan.pairs, plan.ackRequired, ++requestId_));
    if (!plan.ackRequired)
        return 0;
    const auto ack = halvex::wire::decodeWriteRegAck(answer);
    if (!ack)
        return halvex::wire::control_result::kBusy;
    return ack->header.status != 0 ? halvex::wire::controlResultFromStatus(ack->header.status) : 0;
}

uint32_t SimChannel::readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count)
{
    std::lock_guard<std::mutex> lock(lock_);
    if (failure_ != 0)
        return failure_;
    const std::vector<uint8_t> answer = exchange(halvex::wire::encodeReadMemCmd(start, count, ++requestId_));
    const auto ack = halvex::wire::decodeReadMemAck(answer);
    if (!ack)
        return halvex::wire::control_result::kBusy;
    data.assign(ack->data.begin(), ack->data.end());
    return 0;
}

RegisterChannel::EventRoute SimChannel::eventRoute(uint32_t)
{
    return EventRoute{HOST_ADDRESS, EVENT_PORT};
}

std::optional<uint64_t> SimChannel::activityCount(uint32_t) const
{
    std::lock_guard<std::mutex> lock(lock_);
    return datagrams_;
}

void SimChannel::advance(hxsim::SimTime by)
{
    std::lock_guard<std::mutex> lock(lock_);
    now_ += by;
    keepEvents(core_.advance(now_));
}

RegisterPairs SimChannel::takeEvents()
{
    std::lock_guard<std::mutex> lock(lock_);
    RegisterPairs taken;
    taken.swap(events_);
    return taken;
}

uint32_t SimChannel::cameraRegister(uint32_t address)
{
    std::lock_guard<std::mutex> lock(lock_);
    return core_.device().registers().get(address);
}

std::vector<RegisterPairs> SimChannel::multiWrites() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return multiWrites_;
}

void SimChannel::failWith(uint32_t result)
{
    std::lock_guard<std::mutex> lock(lock_);
    failure_ = result;
}

void SimChannel::failReadsWith(uint32_t result)
{
    std::lock_guard<std::mutex> lock(lock_);
    readFailure_ = result;
}

void SimChannel::restart()
{
    std::lock_guard<std::mutex> lock(lock_);
    core_ = hxsim::CameraCore(config_);
}

void SimChannel::otherHostTakesControl()
{
    std::lock_guard<std::mutex> lock(lock_);
    const hxsim::Endpoint other{0x7F000009, 40000};
    core_.device().write(halvex::registers::GIGE_REG_CCP, 2, other, now_);
}

} // namespace hx_test
