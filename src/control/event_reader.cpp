// A camera's event datagrams, from the event socket to the camera's service thread.
#include "control/event_reader.h"

#include <memory>
#include <mutex>
#include <span>

#include "control/channel_sockets.h"
#include "control/channel_thread.h"
#include "control/hx_comm_messages.h"
#include "control/hx_notification.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "wire/event_packet.h"

namespace halvex::control {

EventReader::EventReader(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets,
                         ChannelThread& thread)
    : cameraAddress_(cameraAddress), cameraName_(cameraName), sockets_(sockets), thread_(thread)
{
}

// Drains the event socket until nothing waits (or the pass's share is used), oversized datagrams
// dropped whole. Each is stamped as it is taken, and taking and posting happen under one lock, so
// the channel's thread and a caller catching up keep the camera's order.
void EventReader::readPending()
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", "HxComm::readPendingMsg", cameraName_.c_str());
    std::lock_guard<std::mutex> oneReader(sockets_.eventSocketLock());
    UdpSocket* const events = sockets_.events();
    if (events == nullptr)
        return;
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        auto message = std::make_unique<HmpMessage>();
        ReceivedDatagram received;
        const Take take = takeDatagram(*events, "HMP", cameraName_, message->buffer, received);
        if (take == Take::Stop)
            return;
        if (take == Take::Skipped)
            continue;
        message->known = orderStamp();
        message->length = received.length;
        message->sourceAddress = received.source.address;
        message->sourcePort = received.source.port;
        message->owner = &thread_;
        thread_.post(message.release());
    }
}

void EventReader::handle(HmpMessage* message)
{
    const char* who = "HxComm::handleHmpMsg";
    if (message == nullptr) {
        HLV_LOG("%s: Didn't get a HmpMessage!", who);
        return;
    }
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", who, cameraName_.c_str());
    const auto decoded = wire::decodeEventData(std::span<const uint8_t>(message->buffer.data(), message->length));
    switch (decoded.check) {
    case wire::EventCheck::Ok: break;
    case wire::EventCheck::Empty: return;
    case wire::EventCheck::WrongCommand:
        HLV_LOG("%s(%s): Unexpected event command: 0x%X", who, cameraName_.c_str(), decoded.command);
        return;
    case wire::EventCheck::WrongLength:
        HLV_LOG("%s(%s): Unexpected event length: %d", who, cameraName_.c_str(), decoded.length);
        return;
    case wire::EventCheck::Truncated:
        HLV_LOG("%s(%s): Dropped a truncated event datagram of %zu bytes", who, cameraName_.c_str(), message->length);
        return;
    }
    const bool missed = eventsMissed(lastEventId_, decoded.event.requestId);
    lastEventId_ = decoded.event.requestId;
    if (missed)
        HLV_LOG("%s(%s): Events were lost before event %d; the cached settings are read again", who,
                cameraName_.c_str(), static_cast<int>(decoded.event.requestId));
    const std::shared_ptr<thread::MsgThread> target = notificationTarget(cameraAddress_);
    if (!target)
        return;
    auto* notification = new NotificationMessage({{decoded.event.eventId, decoded.event.value}});
    notification->eventsMissed = missed;
    notification->known = message->known;
    notification->owner = target.get();
    target->post(notification);
}

} // namespace halvex::control
