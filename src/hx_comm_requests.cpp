// A camera's control channel: turning requests into commands on the wire, request ids, the
// pending table and fire-and-forget writes.
#include <exception>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hx_comm.h"

using HLV_THREAD::MESSAGE_DONE;
using HLV_THREAD::MESSAGE_FAILED;
using HX_WIRE::RegisterPair;

namespace {

template <typename Request>
Request* requestAs(HLV_THREAD::Message* message, const char* className)
{
    auto* request = dynamic_cast<Request*>(message);
    if (request == nullptr)
        HLV_LOG("%s: Didn't get a %s!", "HxComm::messageHandle", className);
    return request;
}

std::vector<RegisterPair> toWirePairs(const HX_COMM::RegisterList& pairs)
{
    std::vector<RegisterPair> wire;
    wire.reserve(pairs.size());
    for (const auto& [address, value] : pairs)
        wire.push_back({address, value});
    return wire;
}

std::vector<uint32_t> addressesOf(const HX_COMM::RegisterList& pairs)
{
    std::vector<uint32_t> addresses;
    addresses.reserve(pairs.size());
    for (const auto& pair : pairs)
        addresses.push_back(pair.first);
    return addresses;
}

} // namespace

// Every path completes the request exactly once, here or when its acknowledge, its age-out or a
// purge comes; an exception on the way fails it rather than leaving its caller waiting.
void HxComm::handleRequest(Message* message)
{
    HX_COMM::RequestMessage* request = checkedRequest(message);
    if (request == nullptr)
        return;
    if (!withinLimits(*request)) {
        complete(*request, MESSAGE_FAILED);
        return;
    }
    if (needsNoExchange(*request)) {
        request->cameraStatus = HX_WIRE::CameraStatus::kSuccess;
        complete(*request, MESSAGE_DONE);
        return;
    }
    bool pending = false;
    try {
        const uint16_t id = nextRequestId();
        const Command command = buildCommand(*request, id);
        if (command.datagram.empty() || !sendToCamera(command.datagram, messageName(request->req).c_str())) {
            request->cameraStatus = HX_WIRE::CameraStatus::kGenericError;
            complete(*request, MESSAGE_FAILED);
            return;
        }
        if (!command.ackRequired) {
            HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): No ack for message %d, responding success",
                      "HxComm::handleRequest", cameraName_.c_str(), id);
            request->cameraStatus = HX_WIRE::CameraStatus::kSuccess;
            complete(*request, MESSAGE_DONE);
            return;
        }
        pending_[id] = Pending{request, 0};
        pending = true;
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): wait for response to message 0x%04x", "HxComm::handleRequest",
                  cameraName_.c_str(), id);
    } catch (...) {
        if (!pending)
            complete(*request, MESSAGE_FAILED);
        throw;
    }
}

// The request behind a request id, or nullptr (the message then failed) when it is of the
// wrong class or the channel cannot send.
HX_COMM::RequestMessage* HxComm::checkedRequest(Message* message)
{
    HX_COMM::RequestMessage* request = nullptr;
    switch (message->req) {
    case HX_COMM::READ_REG_MSG:
        request = requestAs<HX_COMM::ReadRegMessage>(message, "ReadRegMessage");
        break;
    case HX_COMM::WRITE_REG_MSG:
        request = requestAs<HX_COMM::WriteRegMessage>(message, "WriteRegMessage");
        break;
    case HX_COMM::READ_MEM_MSG:
        request = requestAs<HX_COMM::ReadMemMessage>(message, "ReadMemMessage");
        break;
    case HX_COMM::WRITE_MEM_MSG:
        request = requestAs<HX_COMM::WriteMemMessage>(message, "WriteMemMessage");
        break;
    case HX_COMM::READ_MULTI_REG_MSG:
        request = requestAs<HX_COMM::ReadMultiRegMessage>(message, "ReadMultiRegMessage");
        break;
    case HX_COMM::WRITE_MULTI_REG_MSG:
        request = requestAs<HX_COMM::WriteMultiRegMessage>(message, "WriteMultiRegMessage");
        break;
    default:
        break;
    }
    if (request != nullptr && !hcp_) {
        HLV_LOG("%s: Unexpectedly null HCP object!", "HxComm::messageHandle");
        complete(*request, MESSAGE_FAILED);
        return nullptr;
    }
    if (request == nullptr)
        replyFailed(message);
    return request;
}

// A command that does not fit one datagram would never be answered; it fails here instead of
// costing its caller the whole age-out.
bool HxComm::withinLimits(HX_COMM::RequestMessage& request) const
{
    std::size_t count = 0;
    std::size_t limit = 0;
    if (auto* read = dynamic_cast<HX_COMM::ReadMultiRegMessage*>(&request)) {
        count = read->pairs.size();
        limit = HX_WIRE::kMaxReadAddresses;
    } else if (auto* write = dynamic_cast<HX_COMM::WriteMultiRegMessage*>(&request)) {
        count = write->pairs.size();
        limit = HX_WIRE::kMaxGatedCallerPairs;
    }
    if (count <= limit)
        return true;
    HLV_LOG("%s(%s): %zu registers do not fit one datagram (at most %zu)", "HxComm::handleRequest",
            cameraName_.c_str(), count, limit);
    return false;
}

// An empty register list asks nothing of the camera.
bool HxComm::needsNoExchange(const HX_COMM::RequestMessage& request) const
{
    if (auto* read = dynamic_cast<const HX_COMM::ReadMultiRegMessage*>(&request))
        return read->pairs.empty();
    if (auto* write = dynamic_cast<const HX_COMM::WriteMultiRegMessage*>(&request))
        return write->pairs.empty();
    return false;
}

// One case per request type, each a few lines; kept together so the wire form of every request
// reads in one place.
HxComm::Command HxComm::buildCommand(HX_COMM::RequestMessage& request, uint16_t requestId)
{
    const char* who = "HxComm::buildCommand";
    const char* camera = cameraName_.c_str();
    Command command;
    switch (request.req) {
    case HX_COMM::READ_REG_MSG: {
        auto& read = static_cast<HX_COMM::ReadRegMessage&>(request);
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): msg_id=%d, reg_addr=0x%08x/0x%08x", who, camera, requestId,
                  read.regAddress, read.regAddress);
        const uint32_t address[] = {read.regAddress};
        command.datagram = HX_WIRE::encodeReadRegCmd(address, requestId);
        break;
    }
    case HX_COMM::READ_MULTI_REG_MSG: {
        auto& read = static_cast<HX_COMM::ReadMultiRegMessage&>(request);
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): reg count=%zu", who, camera, read.pairs.size());
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s) msg_id=%d", who, camera, requestId);
        command.datagram = HX_WIRE::encodeReadRegCmd(addressesOf(read.pairs), requestId);
        break;
    }
    case HX_COMM::WRITE_REG_MSG: {
        auto& write = static_cast<HX_COMM::WriteRegMessage&>(request);
        const HX_WIRE::WritePlan plan = HX_WIRE::planSingleWrite(write.regAddress, write.value);
        command.ackRequired = plan.ackRequired;
        command.datagram = HX_WIRE::encodeWriteRegCmd(plan.pairs, plan.ackRequired, requestId);
        break;
    }
    case HX_COMM::WRITE_MULTI_REG_MSG: {
        auto& write = static_cast<HX_COMM::WriteMultiRegMessage&>(request);
        const HX_WIRE::WritePlan plan = HX_WIRE::planMultiWrite(toWirePairs(write.pairs));
        if (!plan.ackRequired) {
            for (const auto& pair : write.pairs)
                HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Addr: 0x%x doesn't need ack", who, camera, pair.first);
        }
        command.ackRequired = plan.ackRequired;
        command.datagram = HX_WIRE::encodeWriteRegCmd(plan.pairs, plan.ackRequired, requestId);
        break;
    }
    case HX_COMM::READ_MEM_MSG: {
        auto& read = static_cast<HX_COMM::ReadMemMessage&>(request);
        command.datagram = HX_WIRE::encodeReadMemCmd(read.startAddress, read.byteCount, requestId);
        break;
    }
    case HX_COMM::WRITE_MEM_MSG: {
        auto& write = static_cast<HX_COMM::WriteMemMessage&>(request);
        command.datagram = HX_WIRE::encodeWriteMemCmd(write.startAddress, write.data, requestId);
        break;
    }
    default:
        break;
    }
    return command;
}

// Ids wrap from 65535 to 0. An id still pending (only possible with 65536 requests in flight)
// is skipped rather than shadowed.
uint16_t HxComm::nextRequestId()
{
    do {
        ++requestId_;
    } while (pending_.count(requestId_) != 0 && pending_.size() < 0x10000);
    return requestId_;
}

// Every datagram that reaches the camera's control port counts as activity for the heartbeat.
bool HxComm::sendToCamera(std::span<const uint8_t> datagram, const char* who)
{
    if (!hcp_) {
        HLV_LOG("%s: Unexpectedly null HCP object!", who);
        return false;
    }
    const long sent = hcp_->sendMsg(datagram, cameraAddress_, HX_WIRE::kControlPort);
    if (sent != static_cast<long>(datagram.size())) {
        HLV_LOG("%s: Failed sendMsg(%s), err=%d", who, cameraName_.c_str(), static_cast<int>(hcp_->lastError()));
        return false;
    }
    ++activity_;
    return true;
}

// A write nobody waits for: one ungated pair, no acknowledge wanted, request id 0.
void HxComm::pokeReg(uint32_t regAddress, uint32_t value)
{
    const RegisterPair pair[] = {{regAddress, value}};
    sendToCamera(HX_WIRE::encodeWriteRegCmd(pair, false, 0), "HxComm::pokeReg");
}

void HxComm::complete(HX_COMM::RequestMessage& request, uint32_t status)
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req ID=%d", "HxComm::complete", cameraName_.c_str(), request.req);
    request.status = status;
    request.forward();
}

// Fails every pending request at once: the camera was lost or the channel is going away.
void HxComm::failPending(bool channelDown, const char* who)
{
    std::map<uint16_t, Pending> failing;
    failing.swap(pending_);
    for (auto& [id, entry] : failing) {
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Message %d [0x%x] has aged out.", who, cameraName_.c_str(), id,
                  entry.request->req);
        entry.request->channelDown = channelDown;
        complete(*entry.request, MESSAGE_FAILED);
    }
}
