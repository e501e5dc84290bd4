// A camera's control channel: the process-wide registry of channels and the six register and
// memory operations as their callers see them.
#include "control/hx_comm.h"

#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "platform/ipv4_endpoint.h"
#include "platform/netutils.h"

namespace halvex::control {

using wire::RegisterPairs;

using wire::RegisterPairs;
using wire::control_result::kChannelDown;
using wire::control_result::kOtherError;
using wire::control_result::kSuccess;

namespace {

// Allocated once and never destroyed: channels and their callers may outlive static destructors.
struct Registry {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<HxComm>> channels;
    bool closed = false;
    // Serialises channel creation, so two first requests for a camera never start two channels.
    std::mutex creation;
};

Registry& registry()
{
    static auto* instance = new Registry;
    return *instance;
}

// The camera's registered channel, or none. The caller's copy keeps it alive after the lock is
// let go, so a channel is never destroyed under the registry lock.
std::shared_ptr<HxComm> registered(uint32_t cameraAddress)
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    const auto found = reg.channels.find(cameraAddress);
    return found != reg.channels.end() ? found->second : nullptr;
}

std::string dotted(uint32_t address)
{
    return platform::ipv4ToText(address);
}

// The line every exchange on one register or memory address starts with.
void traceRequest(const char* who, uint32_t cameraAddress, uint32_t address)
{
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s, reg_addr=0x%04X", who, dotted(cameraAddress).c_str(), address);
}

// A failure never reads as success, even when the camera's own status said 0.
uint32_t failureResult(const RequestMessage& request)
{
    if (request.channelDown)
        return kChannelDown;
    if (request.cameraStatus == wire::camera_status::kSuccess)
        return kOtherError;
    return wire::controlResultFromStatus(request.cameraStatus);
}

// A write's result; a refused or unanswered write is worth a log line naming what was written.
uint32_t reportedWrite(const char* who, const RequestMessage& request, const char* what, uint32_t address,
                       uint32_t result)
{
    if (result != kSuccess)
        HLV_LOG("%s: Error writing %s 0x%04X to camera '%s', status=0x%X", who, what, address,
                dotted(request.cameraAddress).c_str(), request.cameraStatus);
    return result;
}

} // namespace

std::shared_ptr<HxComm> HxComm::factory(uint32_t cameraAddress)
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> creating(reg.creation);
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        if (reg.closed)
            return nullptr;
        const auto found = reg.channels.find(cameraAddress);
        if (found != reg.channels.end()) {
            if (found->second && found->second->thread_.halted()) {
                HLV_TRACE(thread::TRACE_COMM, "%s: Called after halted", "HxComm::factory");
                return nullptr;
            }
            return found->second;
        }
    }
    if (cameraAddress == 0 || cameraAddress == ALL_CAMERAS) {
        HLV_LOG("%s: %s is not a camera address", "HxComm::factory", dotted(cameraAddress).c_str());
        return nullptr;
    }
    std::shared_ptr<HxComm> channel = startChannel(cameraAddress);
    if (channel) {
        std::lock_guard<std::mutex> guard(reg.lock);
        reg.channels[cameraAddress] = channel;
    }
    return channel;
}

// A channel that could not open (all ports taken) is not registered, so a later request tries
// again once ports are free. The channel opens on this thread, so its thread starts only once it
// can serve.
std::shared_ptr<HxComm> HxComm::startChannel(uint32_t cameraAddress)
{
    try {
        std::shared_ptr<HxComm> channel(new HxComm(cameraAddress));
        if (!channel->thread_.open())
            return nullptr;
        channel->thread_.start();
        return channel;
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Could not start the channel: %s", "HxComm::factory", dotted(cameraAddress).c_str(),
                error.what());
    }
    return nullptr;
}

void HxComm::close(uint32_t cameraAddress)
{
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", "HxComm::close", dotted(cameraAddress).c_str());
    closeChannels(cameraAddress, false);
}

void HxComm::recycle(uint32_t cameraAddress)
{
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", "HxComm::recycle", dotted(cameraAddress).c_str());
    closeChannels(cameraAddress, true);
}

// The registry lock is never held while a channel halts or is destroyed: its thread and its age
// timer take that lock themselves.
void HxComm::closeChannels(uint32_t cameraAddress, bool forget)
{
    Registry& reg = registry();
    std::vector<std::shared_ptr<HxComm>> closing;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        if (cameraAddress == ALL_CAMERAS)
            reg.closed = true;
        for (auto& [address, channel] : reg.channels) {
            if (channel && (cameraAddress == ALL_CAMERAS || address == cameraAddress))
                closing.push_back(channel);
        }
    }
    for (const std::shared_ptr<HxComm>& channel : closing) {
        if (!channel->thread_.closeOnce())
            continue; // still running: it must stay reachable
        std::shared_ptr<HxComm> last;
        std::lock_guard<std::mutex> guard(reg.lock);
        const auto found = reg.channels.find(channel->cameraAddress());
        if (found == reg.channels.end() || found->second != channel)
            continue;
        last = std::move(found->second);
        if (forget)
            reg.channels.erase(found);
    }
    if (forget && cameraAddress != ALL_CAMERAS) {
        std::lock_guard<std::mutex> guard(reg.lock);
        const auto found = reg.channels.find(cameraAddress);
        if (found != reg.channels.end() && !found->second)
            reg.channels.erase(found);
    }
}

void HxComm::setFault(uint32_t cameraAddress)
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", "HxComm::setFault", dotted(cameraAddress).c_str());
    const std::shared_ptr<HxComm> channel = registered(cameraAddress);
    if (!channel)
        return;
    channel->faulted_ = true;
    auto* purge = new PurgeMessage;
    purge->owner = &channel->thread_;
    channel->thread_.post(purge);
}

bool HxComm::isKnown(uint32_t cameraAddress)
{
    return registered(cameraAddress) != nullptr;
}

bool HxComm::isFaulted(uint32_t cameraAddress)
{
    const std::shared_ptr<HxComm> channel = registered(cameraAddress);
    return !channel || channel->faulted();
}

uint16_t HxComm::hmpPort(uint32_t cameraAddress)
{
    const std::shared_ptr<HxComm> channel = factory(cameraAddress);
    return channel ? channel->ports().hmp : 0;
}

uint32_t HxComm::localAddressToward(uint32_t cameraAddress)
{
    return platform::net_utils::localAddressToward(cameraAddress);
}

void HxComm::catchUpEvents(uint32_t cameraAddress)
{
    const std::shared_ptr<HxComm> channel = registered(cameraAddress);
    if (channel && !channel->faulted())
        channel->events_.readPending();
}

uint64_t HxComm::activityCount(uint32_t cameraAddress)
{
    const std::shared_ptr<HxComm> channel = registered(cameraAddress);
    return channel ? channel->activityCount() : 0;
}

// Finds the camera's channel, sends the request through it and waits for the camera's answer.
uint32_t HxComm::exchange(const char* who, RequestMessage& request)
{
    const std::shared_ptr<HxComm> channel = factory(request.cameraAddress);
    if (!channel) {
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): Called after halt.", who, dotted(request.cameraAddress).c_str());
        return kChannelDown;
    }
    if (channel->faulted()) {
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): Camera is faulted.", who, dotted(request.cameraAddress).c_str());
        return kChannelDown;
    }
    try {
        channel->exchange_.transact(request);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", who, dotted(request.cameraAddress).c_str(), error.str().c_str());
        return kOtherError;
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): std::exception: '%s'", who, dotted(request.cameraAddress).c_str(), error.what());
        return kOtherError;
    }
    return request.status == thread::MESSAGE_FAILED ? failureResult(request) : kSuccess;
}

uint32_t HxComm::readReg(uint32_t cameraAddress, uint32_t regAddress, uint32_t& value)
{
    const char* who = "HxComm::readReg";
    traceRequest(who, cameraAddress, regAddress);
    ReadRegMessage request(cameraAddress, regAddress);
    const uint32_t result = exchange(who, request);
    if (result != kSuccess) {
        HLV_LOG("%s: Error reading register 0x%04X from camera '%s', status=0x%X", who, regAddress,
                dotted(cameraAddress).c_str(), request.cameraStatus);
        return result;
    }
    value = request.value;
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s, reg_addr=0x%04X, reg_value=0x%04X", who,
              dotted(cameraAddress).c_str(), regAddress, value);
    return kSuccess;
}

uint32_t HxComm::writeReg(uint32_t cameraAddress, uint32_t regAddress, uint32_t value)
{
    const char* who = "HxComm::writeReg";
    traceRequest(who, cameraAddress, regAddress);
    WriteRegMessage request(cameraAddress, regAddress, value);
    return reportedWrite(who, request, "register", regAddress, exchange(who, request));
}

uint32_t HxComm::readMem(uint32_t cameraAddress, uint32_t startAddress, std::vector<uint8_t>& data,
                         std::size_t byteCount)
{
    const char* who = "HxComm::readMem";
    traceRequest(who, cameraAddress, startAddress);
    ReadMemMessage request(cameraAddress, startAddress, byteCount);
    const uint32_t result = exchange(who, request);
    if (result != kSuccess) {
        HLV_LOG("%s(%s): Error reading mem register 0x%04X, status=0x%X", who, dotted(cameraAddress).c_str(),
                startAddress, request.cameraStatus);
        return result;
    }
    data = std::move(request.data);
    return kSuccess;
}

uint32_t HxComm::writeMem(uint32_t cameraAddress, uint32_t startAddress, const std::vector<uint8_t>& data)
{
    const char* who = "HxComm::writeMem";
    traceRequest(who, cameraAddress, startAddress);
    WriteMemMessage request(cameraAddress, startAddress, data);
    return reportedWrite(who, request, "mem register", startAddress, exchange(who, request));
}

uint32_t HxComm::readMultiReg(uint32_t cameraAddress, RegisterPairs& pairs)
{
    const char* who = "HxComm::readMultiReg";
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", who, dotted(cameraAddress).c_str());
    ReadMultiRegMessage request(cameraAddress, pairs);
    const uint32_t result = exchange(who, request);
    if (result != kSuccess) {
        HLV_LOG("%s: Error reading multiple registers from camera '%s', status=0x%X", who,
                dotted(cameraAddress).c_str(), request.cameraStatus);
        return result;
    }
    pairs = std::move(request.pairs);
    return kSuccess;
}

uint32_t HxComm::writeMultiReg(uint32_t cameraAddress, const RegisterPairs& pairs)
{
    const char* who = "HxComm::writeMultiReg";
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", who, dotted(cameraAddress).c_str());
    WriteMultiRegMessage request(cameraAddress, pairs);
    const uint32_t result = exchange(who, request);
    if (result != kSuccess)
        HLV_LOG("%s: Error writing multiple registers to camera '%s', status=0x%X", who, dotted(cameraAddress).c_str(),
                request.cameraStatus);
    return result;
}

uint32_t HxComm::writeBriefly(uint32_t cameraAddress, const RegisterPairs& pairs)
{
    const char* who = "HxComm::writeBriefly";
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", who, dotted(cameraAddress).c_str());
    if (pairs.size() == 1) {
        WriteRegMessage request(cameraAddress, pairs.front().address, pairs.front().value);
        request.briefWait = true;
        return reportedWrite(who, request, "register", pairs.front().address, exchange(who, request));
    }
    WriteMultiRegMessage request(cameraAddress, pairs);
    request.briefWait = true;
    const uint32_t result = exchange(who, request);
    if (result != kSuccess)
        HLV_LOG("%s: Error writing multiple registers to camera '%s', status=0x%X", who, dotted(cameraAddress).c_str(),
                request.cameraStatus);
    return result;
}

HxComm::HxComm(uint32_t cameraAddress)
    : cameraAddress_(cameraAddress), cameraName_(platform::ipv4ToText(cameraAddress)),
      sockets_(cameraAddress_, cameraName_), reader_(cameraName_),
      exchange_(cameraAddress_, cameraName_,
                std::chrono::microseconds(thread::scaledMicroseconds(AGE_TICK_MICROSECONDS)), sockets_, reader_,
                datagrams_, thread_),
      datagrams_(cameraAddress_, cameraName_, sockets_, exchange_),
      events_(cameraAddress_, cameraName_, sockets_, thread_),
      thread_(cameraAddress_, cameraName_, sockets_, reader_, exchange_, events_)
{
    HLV_TRACE(thread::TRACE_COMM, "%s: ip_addr=%s", "HxComm::classInit", cameraName_.c_str());
}

HxComm::~HxComm()
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", "HxComm::~HxComm", cameraName_.c_str());
    thread_.endChannel();
    sockets_.close();
    reader_.close();
}

uint32_t HxComm::cameraAddress() const
{
    return cameraAddress_;
}

const std::string& HxComm::cameraName() const
{
    return cameraName_;
}

ChannelPorts HxComm::ports() const
{
    return sockets_.ports();
}

bool HxComm::faulted() const
{
    return faulted_;
}

UdpSocket* HxComm::streamSocket()
{
    return sockets_.stream();
}

uint64_t HxComm::activityCount() const
{
    return sockets_.activityCount();
}

bool HxComm::quiet()
{
    return exchange_.quiet();
}

} // namespace halvex::control
