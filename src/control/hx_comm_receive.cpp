// A camera's control channel: what comes back from the camera. Acknowledges complete their
// pending requests (on whichever thread read them), unanswered requests age out, and event
// datagrams become notifications.
#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <utility>

#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/wake.h"
#include "platform/ipv4_endpoint.h"
#include "wire/byte_io.h"
#include "wire/event_packet.h"

using HLV_THREAD::MESSAGE_DONE;
using HLV_THREAD::MESSAGE_FAILED;
namespace Code = HX_WIRE::ControlCode;
namespace Status = HX_WIRE::CameraStatus;

using HX_COMM::rawAckHeader;

namespace {

// A quiet channel's tick, in age-out periods (1 s).
constexpr int QUIET_TICK_PERIODS = 10;

} // namespace

// Reads the datagrams waiting on the control socket and handles each. A caller reading for its
// own request stops as soon as that request has ended, so its answer costs it no further reads;
// whatever is left goes to the next reader or the channel's next tick.
void HxComm::drainControlSocket(const HX_COMM::RequestMessage* awaited)
{
    std::array<uint8_t, HX_WIRE::kMaxControlDatagram> buffer{};
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        ReceivedDatagram received;
        const Take take = takeDatagram(*hcp_, "HCP", buffer, received);
        if (take == Take::Stop)
            return;
        if (take == Take::Skipped)
            continue;
        handleControlDatagram(std::span<const uint8_t>(buffer.data(), received.length), received.source.address,
                              received.source.port);
        if (awaited != nullptr && isCompleted(*awaited))
            return;
    }
}

// One datagram from `socket` into `buffer`: Stop when nothing waits or the read failed, Skipped
// (and logged) when it did not fit and was dropped whole.
HxComm::Take HxComm::takeDatagram(UDPSocket& socket, const char* socketName, std::span<uint8_t> buffer,
                                  ReceivedDatagram& received)
{
    const char* who = "HxComm::readPendingMsg";
    received = socket.receive(buffer);
    switch (received.kind) {
    case ReceivedDatagram::Kind::Nothing: return Take::Stop;
    case ReceivedDatagram::Kind::Failed:
        HLV_LOG("%s: failed to read the %s socket.", who, socketName);
        return Take::Stop;
    case ReceivedDatagram::Kind::Oversized:
        HLV_LOG("%s(%s): Dropped an oversized datagram of %zu bytes", who, cameraName_.c_str(), received.length);
        return Take::Skipped;
    case ReceivedDatagram::Kind::Datagram: break;
    }
    return Take::Datagram;
}

// Only the camera's control port may answer; anything else on this socket is dropped.
void HxComm::handleControlDatagram(std::span<const uint8_t> datagram, uint32_t sourceAddress, uint16_t sourcePort)
{
    const char* who = "HxComm::handleHcpMsg";
    if (sourceAddress != cameraAddress_ || sourcePort != HX_WIRE::kControlPort) {
        HLV_LOG("%s(%s): Dropped a datagram from %s:%u, not the camera's control port", who, cameraName_.c_str(),
                HX_PLATFORM::ipv4ToText(sourceAddress).c_str(), sourcePort);
        return;
    }
    if (datagram.size() < HX_WIRE::kControlHeaderSize) {
        HLV_LOG("%s(%s): Dropped a short datagram of %zu bytes", who, cameraName_.c_str(), datagram.size());
        return;
    }
    const uint16_t answer = rawAckHeader(datagram).answer;
    switch (answer) {
    case Code::kDiscoveryAck: HX_COMM::deliverDiscoveryReply(cameraAddress_, datagram); break;
    case Code::kResultlessAck:
    case Code::kReadRegAck:
    case Code::kWriteRegAck:
    case Code::kReadMemAck:
    case Code::kWriteMemAck: processAck(datagram); break;
    default: HLV_LOG("%s: Unexpected receive command: 0x%X", who, answer); break;
    }
}

void HxComm::processAck(std::span<const uint8_t> datagram)
{
    const char* who = "HxComm::processAck";
    const HX_WIRE::AckHeader header = rawAckHeader(datagram);
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): msg_id=%d, recv_cmd=%x", who, cameraName_.c_str(), header.ackId,
              header.answer);
    bool returned = false;
    bool missed = false;
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        const auto found = pending_.find(header.ackId);
        if (found == pending_.end()) {
            HLV_TRACE(HLV_THREAD::TRACE_COMM,
                      "%s: Cannot find a pending msg with ID=0x%04X, cmd=0x%04X. This is probably OK.", who,
                      header.ackId, header.answer);
            return;
        }
        HX_COMM::RequestMessage* waiting = found->second.request;
        if (waiting != nullptr)
            noteRoundTrip(found->second);
        pending_.erase(found);
        const uint32_t silent = std::exchange(silentAgeOuts_, 0);
        returned = silent >= AWAY_AGE_OUTS;
        missed = silent != 0 && !returned;
        if (waiting == nullptr) {
            HLV_TRACE(HLV_THREAD::TRACE_COMM,
                      "%s(%s): late acknowledge of message 0x%04X, whose caller went on; dropped", who,
                      cameraName_.c_str(), header.ackId);
        } else if (HX_COMM::RequestMessage& request = *waiting; header.answer != request.expectedAnswer()) {
            HLV_LOG("%s(%s): Answer 0x%04X does not fit message %d [0x%x]; no result taken", who, cameraName_.c_str(),
                    header.answer, header.ackId, request.req);
            request.cameraStatus = HX_COMM::unusableStatus(header);
            complete(request, MESSAGE_FAILED);
        } else {
            complete(request, request.takeAnswer(datagram, *this));
        }
    }
    // Outside the exchange lock: the service's lookup takes locks of its own.
    if (returned) {
        HLV_LOG("%s(%s): The camera answers again after a time-out", who, cameraName_.c_str());
        HX_COMM::announceReturn(cameraAddress_);
    } else if (missed) {
        // Too few time-outs to call it an absence, but a camera can restart within one.
        HX_COMM::announceReturn(cameraAddress_, false);
    }
}

// A tick ages the pending requests, then reads control datagrams that came while no caller was
// reading (late answers, strays), so each is handled and logged within a tick.
void HxComm::handleAgeOutTick()
{
    ageOut();
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        if (readerBusy_)
            return;
        // No caller is reading (one stepped back after a failed wait): the tick sends what is due.
        resendOverdueLocked();
    }
    drainControlSocket(nullptr);
}

// While nothing waits for the camera the channel ticks only once per QUIET_TICK_PERIODS periods,
// for the datagrams nobody else reads (a discovery reply, a stray); a request cuts that wait short.
std::optional<std::chrono::milliseconds> HxComm::untilNextTick()
{
    const auto now = std::chrono::steady_clock::now();
    bool wentQuiet = false;
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        const bool idle = !ticksWantedLocked();
        wentQuiet = idle && !ticksIdle_;
        ticksIdle_ = idle;
        const auto period = ticksIdle_ ? tickPeriod_ * QUIET_TICK_PERIODS : tickPeriod_;
        if (!nextTick_ || *nextTick_ > now + period)
            nextTick_ = now + period;
    }
    if (wentQuiet)
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Nothing to age out; ticking once a second", "HxComm::untilNextTick",
                  cameraName_.c_str());
    if (*nextTick_ <= now)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(*nextTick_ - now);
}

// A late tick is not made up: the next comes a period after this one.
void HxComm::tickWhenDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (!nextTick_ || now < *nextTick_)
        return;
    handleAgeOutTick();
    std::lock_guard<std::mutex> guard(exchangeLock_);
    const bool wanted = ticksWantedLocked();
    pendingSinceTick_ = 0;
    if (!wanted) {
        nextTick_.reset();
        return;
    }
    *nextTick_ += tickPeriod_;
    if (*nextTick_ <= now)
        *nextTick_ = now + tickPeriod_;
}

bool HxComm::quiet()
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    return ticksIdle_;
}

bool HxComm::ticksWantedLocked() const
{
    return !pending_.empty() || silentAgeOuts_ != 0 || pendingSinceTick_ != 0;
}

void HxComm::noteRequestPendingLocked()
{
    ++pendingSinceTick_;
    if (!ticksIdle_)
        return;
    ticksIdle_ = false;
    if (!postWake()->set())
        HLV_LOG("%s(%s): Could not wake the channel's thread for its age-out ticks", "HxComm::handleRequest",
                cameraName_.c_str());
}

// Each tick ages every pending request by one; at the limit it fails as "busy".
void HxComm::ageOut()
{
    const char* who = "HxComm::ageOut";
    std::lock_guard<std::mutex> guard(exchangeLock_);
    for (auto entry = pending_.begin(); entry != pending_.end();) {
        const uint16_t id = entry->first;
        HX_COMM::RequestMessage* waiting = entry->second.request;
        const int32_t age = ++entry->second.age;
        if (age < AGE_OUT_TICKS) {
            ++entry;
            continue;
        }
        entry = pending_.erase(entry);
        ++silentAgeOuts_;
        // A request whose caller went on after a brief wait ends here unanswered, with no one to tell.
        if (waiting == nullptr)
            continue;
        HX_COMM::RequestMessage& request = *waiting;
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Message %d [0x%x] has aged out.", who, cameraName_.c_str(), id,
                  request.req);
        request.cameraStatus = Status::kBusy;
        complete(request, MESSAGE_FAILED);
    }
}

// One event datagram becomes one notification for the camera's service thread.
void HxComm::handleHmpMsg(HX_COMM::HMPMessage* message)
{
    const char* who = "HxComm::handleHmpMsg";
    if (message == nullptr) {
        HLV_LOG("%s: Didn't get a HMPMessage!", who);
        return;
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", who, cameraName_.c_str());
    const auto decoded = HX_WIRE::decodeEventData(std::span<const uint8_t>(message->buffer.data(), message->length));
    switch (decoded.check) {
    case HX_WIRE::EventCheck::Ok: break;
    case HX_WIRE::EventCheck::Empty: return;
    case HX_WIRE::EventCheck::WrongCommand:
        HLV_LOG("%s(%s): Unexpected event command: 0x%X", who, cameraName_.c_str(), decoded.command);
        return;
    case HX_WIRE::EventCheck::WrongLength:
        HLV_LOG("%s(%s): Unexpected event length: %d", who, cameraName_.c_str(), decoded.length);
        return;
    case HX_WIRE::EventCheck::Truncated:
        HLV_LOG("%s(%s): Dropped a truncated event datagram of %zu bytes", who, cameraName_.c_str(), message->length);
        return;
    }
    const bool missed = HX_COMM::eventsMissed(lastEventId_, decoded.event.requestId);
    lastEventId_ = decoded.event.requestId;
    if (missed)
        HLV_LOG("%s(%s): Events were lost before event %d; the cached settings are read again", who,
                cameraName_.c_str(), static_cast<int>(decoded.event.requestId));
    const std::shared_ptr<HLV_THREAD::MsgThread> target = HX_COMM::notificationTarget(cameraAddress_);
    if (!target)
        return;
    auto* notification = new HX_COMM::NotificationMessage({{decoded.event.eventId, decoded.event.value}});
    notification->eventsMissed = missed;
    notification->known = message->known;
    notification->owner = target.get();
    target->post(notification);
}
