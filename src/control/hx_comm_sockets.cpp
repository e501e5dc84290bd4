// A camera's control channel: its sockets and port layout, and the wait loop that turns queued
// messages and readable sockets into work. The system calls lie below, in platform/ (sockets, the
// wait set) and the thread framework's wake, so one file serves POSIX and Windows.
#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/event_fd.h"
#include "platform/ipv4_endpoint.h"
#include "platform/poll_wait.h"
#include "wire/event_packet.h"

using HX_PLATFORM::raiseSystemError;

HxComm::HxComm(uint32_t cameraAddress)
    : MsgThread(WakeOnPost::Yes), cameraAddress_(cameraAddress), cameraName_(HX_PLATFORM::ipv4ToText(cameraAddress)),
      tickPeriod_(HLV_THREAD::scaledMicroseconds(AGE_TICK_MICROSECONDS))
{
    classInit();
}

HxComm::~HxComm()
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", "HxComm::~HxComm", cameraName_.c_str());
    endChannel();
    cleanup();
}

void HxComm::classInit()
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s: ip_addr=%s", "HxComm::classInit", cameraName_.c_str());
}

bool HxComm::startComms()
{
    const char* who = "HxComm::startComms";
    const char* camera = cameraName_.c_str();
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", who, camera);
    const std::optional<ChannelPorts> wanted = bindControlPort();
    if (!wanted)
        return false;
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s: Found our HCP port [%s:%d]", who, camera, hcp_->port());

    hmp_ = std::make_unique<UDPSocket>(UDPSocket::CONTROL_RECEIVE_BUFFER);
    if (!hmp_->start(wanted->hmp)) {
        HLV_LOG("%s: Unable to bind the messaging port!", who);
        return false;
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s: Created our HMP socket [%s:%d]", who, camera, hmp_->port());

    stream_ = std::make_unique<UDPSocket>(UDPSocket::STREAM_RECEIVE_BUFFER);
    if (!stream_->start(wanted->stream)) {
        HLV_LOG("%s: Unable to bind the streaming port!", who);
        return false;
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s: Created our Streaming socket [%s:%d]", who, camera, stream_->port());

    if (!postWake()->valid())
        raiseSystemError(__FILE__, __LINE__, "Could not create MSG_EVENT signal event", postWake()->error());
    // The wait set, in the order processLoop reads it: message event, events. The control
    // socket is read by the callers waiting for answers, and on each tick.
    pollSet_ = std::make_unique<HX_PLATFORM::PollSet>();
    pollSet_->add(*postWake());
    pollSet_->add(hmp_->fd());

    readerWake_ = std::make_unique<HX_PLATFORM::EventFd>();
    if (!readerWake_->valid())
        raiseSystemError(__FILE__, __LINE__, "Could not create the reader's wake event", readerWake_->error());
    // The reading caller's wait set: control socket, wake event.
    readerPoll_ = std::make_unique<HX_PLATFORM::PollSet>();
    readerPoll_->add(hcp_->fd());
    readerPoll_->add(*readerWake_);
    return true;
}

// Only the control port of the ten fixed sets is searched: a busy stream or event port beside it
// fails the start. With all ten control ports taken (by other channels or other programs), the
// system picks all three ports. Returns the stream and event ports to bind next.
std::optional<ChannelPorts> HxComm::bindControlPort()
{
    const char* who = "HxComm::startComms";
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Looking for an available set of ports.", who, cameraName_.c_str());
    hcp_ = std::make_unique<UDPSocket>(UDPSocket::CONTROL_RECEIVE_BUFFER);
    for (unsigned slot = 0; slot < ChannelPorts::SLOTS; ++slot) {
        if (hcp_->start(ChannelPorts::forSlot(slot).hcp))
            return ChannelPorts::forSlot(slot);
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Ports %d to %d are taken; the system picks this channel's ports.", who,
              cameraName_.c_str(), ChannelPorts::FIRST_HCP_PORT, ChannelPorts::forSlot(ChannelPorts::SLOTS - 1).hmp);
    if (hcp_->valid() && hcp_->start(ChannelPorts::ANY_PORT))
        return ChannelPorts::fromSystem();
    HLV_LOG("%s: Unable to find a usable port!", who);
    HLV_LOG("%s(%s): Ports %d to %d are taken and the system gave no free port either: %s", who, cameraName_.c_str(),
            ChannelPorts::FIRST_HCP_PORT, ChannelPorts::forSlot(ChannelPorts::SLOTS - 1).hmp,
            HX_PLATFORM::errnoIndicates(static_cast<int>(hcp_->lastError())).c_str());
    hcp_.reset();
    return std::nullopt;
}

// Tells the network path (and any filter on it) that the camera's events are expected here.
void HxComm::sendOpeningDatagram()
{
    const std::vector<uint8_t> opening = HX_WIRE::encodeEventOpening();
    if (hmp_->sendMsg(opening, cameraAddress_, hmp_->port()) != static_cast<long>(opening.size()))
        HLV_LOG("%s: Failed sendMsg(%s), err=%d", "HxComm::sendOpeningDatagram", cameraName_.c_str(),
                static_cast<int>(hmp_->lastError()));
}

// One pass: wait for the message event or a readable event socket, until the next age-out tick
// at most, then serve the queue first, the socket after it, and the tick when it is due.
void HxComm::processLoop()
{
    if (pollSet_->wait(untilNextTick()) == HX_PLATFORM::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the channel's events", pollSet_->error());
    if (pollSet_->events(0).any()) {
        postWake()->reset();
        drainQueue();
    }
    if (pollSet_->events(1).any())
        readPendingEvents();
    tickWhenDue();
}

// The reading caller's wait: for a control datagram, its wake event, or at most one tick.
HxComm::ControlTraffic HxComm::waitForControlTraffic(std::chrono::milliseconds limit)
{
    switch (readerPoll_->wait(limit)) {
    case HX_PLATFORM::PollStatus::Failed:
        HLV_LOG("%s(%s): Could not wait for the camera's answer: %s", "HxComm::waitForControlTraffic",
                cameraName_.c_str(), HX_PLATFORM::errnoIndicates(readerPoll_->error()).c_str());
        return ControlTraffic::Failed;
    case HX_PLATFORM::PollStatus::TimedOut: return ControlTraffic::Quiet;
    case HX_PLATFORM::PollStatus::Ready: break;
    }
    if (readerPoll_->events(1).any())
        readerWake_->reset();
    return readerPoll_->events(0).any() ? ControlTraffic::Readable : ControlTraffic::Quiet;
}

void HxComm::wakeReader()
{
    if (readerWake_ && !readerWake_->set())
        HLV_LOG("%s(%s): Could not wake the caller reading the control socket", "HxComm::wakeReader",
                cameraName_.c_str());
}

void HxComm::drainQueue()
{
    while (Message* next = nextMessage())
        dispatch(next);
}

void HxComm::post(Message* message)
{
    postSkippingNop(message);
}

void HxComm::reportWakeNotSet()
{
    HLV_LOG("%s(%s): Could not set the MSG_EVENT signalling event", "HxComm::post", cameraName_.c_str());
}

// The channel's own datagrams and ticks may still arrive while it ends; only messages from
// others are worth a line.
void HxComm::answerRefused(Message* message)
{
    if (message->owner != this)
        HLV_THREAD::logRaw(HLV_THREAD::LOG_PRIORITY_DEBUG, "Message received after HALT");
    message->refuse(this);
}

bool HxComm::halted() const
{
    return halted_ || MsgThread::halted();
}

// Drains the event socket until nothing waits (or the pass's share is used): one message to this
// thread per datagram, oversized ones dropped whole. Each is stamped as it is taken, and taking
// and posting happen under one lock, so the channel's thread and a caller catching up keep the
// camera's order.
void HxComm::readPendingEvents()
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", "HxComm::readPendingMsg", cameraName_.c_str());
    std::lock_guard<std::mutex> oneReader(eventSocketLock_);
    if (!hmp_)
        return;
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        auto message = std::make_unique<HX_COMM::HMPMessage>();
        ReceivedDatagram received;
        const Take take = takeDatagram(*hmp_, "HMP", message->buffer, received);
        if (take == Take::Stop)
            return;
        if (take == Take::Skipped)
            continue;
        message->known = HX_COMM::orderStamp();
        message->length = received.length;
        message->sourceAddress = received.source.address;
        message->sourcePort = received.source.port;
        message->owner = this;
        post(message.release());
    }
}

void HxComm::cleanup()
{
    hcp_.reset();
    {
        std::lock_guard<std::mutex> noReader(eventSocketLock_);
        hmp_.reset();
    }
    stream_.reset();
    pollSet_.reset();
    readerPoll_.reset();
    readerWake_.reset();
}
