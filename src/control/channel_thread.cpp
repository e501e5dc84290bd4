// A camera's control channel's message thread: opening, the wait loop, message dispatch, halt,
// and the end of a channel that fails whatever still waits on it.
#include "control/channel_thread.h"

#include <exception>

#include "control/channel_sockets.h"
#include "control/event_reader.h"
#include "control/hx_comm.h"
#include "control/hx_comm_messages.h"
#include "control/reader_wait.h"
#include "control/request_exchange.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"

namespace halvex::control {

using platform::raiseSystemError;
using thread::Message;
using thread::MESSAGE_DONE;
using thread::MESSAGE_FAILED;

namespace {

struct MessageName {
    uint32_t id;
    const char* name;
};

constexpr MessageName MESSAGE_NAMES[] = {
    {HMP_MSG, "HX_COMM::HmpMessage"},
    {PURGE_MSG, "HX_COMM::PurgeMessage"},
    {READ_REG_MSG, "HX_COMM::ReadRegMessage"},
    {WRITE_REG_MSG, "HX_COMM::WriteRegMessage"},
    {READ_MEM_MSG, "HX_COMM::ReadMemMessage"},
    {WRITE_MEM_MSG, "HX_COMM::WriteMemMessage"},
    {READ_MULTI_REG_MSG, "HX_COMM::ReadMultiRegMessage"},
    {WRITE_MULTI_REG_MSG, "HX_COMM::WriteMultiRegMessage"},
};

} // namespace

ChannelThread::ChannelThread(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets,
                             ReaderWait& reader, RequestExchange& exchange, EventReader& events)
    : MsgThread(WakeOnPost::Yes), cameraAddress_(cameraAddress), cameraName_(cameraName), sockets_(sockets),
      reader_(reader), exchange_(exchange), events_(events)
{
}

ChannelThread::~ChannelThread() = default;

// Runs on the creating thread before the channel's thread starts, so its thread starts only once
// it can serve. The control socket is read by the callers waiting for answers, and on each tick.
bool ChannelThread::open()
{
    try {
        if (sockets_.open()) {
            if (!postWake()->valid())
                raiseSystemError(__FILE__, __LINE__, "Could not create MSG_EVENT signal event", postWake()->error());
            pollSet_ = std::make_unique<platform::PollSet>();
            pollSet_->add(*postWake());
            pollSet_->add(sockets_.events()->fd());
            reader_.open(sockets_.control()->fd());
            sockets_.sendOpeningDatagram();
            return true;
        }
        HLV_LOG("%s: Unable to start communicating!", "HxComm::run");
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.what());
    }
    endChannel();
    return false;
}

// A second caller waits until the first has finished. The channel's own thread cannot close it
// (it would wait for itself); that is logged and left to another caller.
bool ChannelThread::closeOnce()
{
    try {
        std::call_once(closeFlag_, [this] { thread::closeThread(*this); });
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", "HxComm::close", cameraName_.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): std::exception: '%s'", "HxComm::close", cameraName_.c_str(), error.what());
    }
    return !running();
}

void ChannelThread::run()
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", "HxComm::run", cameraName_.c_str());
    try {
        while (!loopFinished())
            processLoop();
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.what());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "HxComm::run");
    }
    endChannel();
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): Done", "HxComm::run", cameraName_.c_str());
}

// Pending requests fail as "channel down", and whatever is still queued, or posted from now on,
// is refused.
void ChannelThread::endChannel()
{
    exchange_.stop(false, "HxComm::endChannel");
    for (Message* message : closeQueue())
        message->refuse(this);
}

void ChannelThread::markHalted()
{
    halted_ = true;
}

bool ChannelThread::wakeForTicks()
{
    return postWake()->set();
}

bool ChannelThread::loopFinished()
{
    return halted() && !messagesWaiting();
}

// One pass: wait for the message event or a readable event socket, until the next age-out tick
// at most, then serve the queue first, the socket after it, and the tick when it is due.
void ChannelThread::processLoop()
{
    if (pollSet_->wait(exchange_.untilNextTick()) == platform::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the channel's events", pollSet_->error());
    if (pollSet_->events(0).any()) {
        postWake()->reset();
        drainQueue();
    }
    if (pollSet_->events(1).any())
        events_.readPending();
    exchange_.tickWhenDue();
}

void ChannelThread::drainQueue()
{
    while (Message* next = nextMessage())
        dispatch(next);
}

// Handlers catch what they can; anything that still escapes is logged here so that one bad
// message cannot end a channel others are waiting on.
void ChannelThread::dispatch(Message* message)
{
    try {
        if (message->owner == this)
            ownerMessage(message);
        else
            messageHandle(message);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", "HxComm::dispatch", cameraName_.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): std::exception: '%s'", "HxComm::dispatch", cameraName_.c_str(), error.what());
    }
}

void ChannelThread::messageHandle(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "HxComm::messageHandle");
        return;
    }
    if (!HxComm::isKnown(cameraAddress_)) {
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): req=%d, NOT CONNECTED", "HxComm::messageHandle", cameraName_.c_str(),
                  message->req);
        replyFailed(message);
        return;
    }
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): req=%d", "HxComm::messageHandle", cameraName_.c_str(), message->req);
    switch (message->req) {
    case thread::HALT: handleHalt(message); break;
    default:
        HLV_LOG("Unrecognized message type: 0x%x", message->req);
        replyFailed(message);
        break;
    }
}

// Releases the camera (write gate closed, control privilege given up) before the loop ends.
void ChannelThread::handleHalt(Message* message)
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): [HALT]", "HxComm::handleHalt", cameraName_.c_str());
    exchange_.stop(true, "HxComm::handleHalt");
    message->reply(MESSAGE_DONE);
}

// A message nobody else will take back (no owner, no route, not synchronous) is deleted.
void ChannelThread::replyFailed(Message* message)
{
    if (!message->synchronous() && message->owner == nullptr && message->routeEmpty()) {
        delete message;
        return;
    }
    message->reply(MESSAGE_FAILED);
}

void ChannelThread::ownerMessage(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "HxComm::ownerMessage");
        return;
    }
    // Messages that come back to this thread were made by it and end here.
    std::unique_ptr<Message> owned(message->synchronous() ? nullptr : message);
    switch (message->req) {
    case thread::HALT: halted_ = true; break;
    case HMP_MSG: events_.handle(dynamic_cast<HmpMessage*>(message)); break;
    case PURGE_MSG:
        HLV_TRACE(thread::TRACE_COMM, "%s(%s)", "HxComm::purge", cameraName_.c_str());
        exchange_.failAll("HxComm::purge");
        break;
    default:
        HLV_LOG("Unrecognized message type: 0x%x", message->req);
        message->status = MESSAGE_FAILED;
        break;
    }
    if (message->synchronous())
        message->forward();
}

std::string ChannelThread::messageName(uint32_t id) const
{
    for (const MessageName& known : MESSAGE_NAMES) {
        if (known.id == id)
            return known.name;
    }
    return MsgThread::messageName(id);
}

void ChannelThread::post(Message* message)
{
    postSkippingNop(message);
}

void ChannelThread::reportWakeNotSet()
{
    HLV_LOG("%s(%s): Could not set the MSG_EVENT signalling event", "HxComm::post", cameraName_.c_str());
}

// The channel's own datagrams and ticks may still arrive while it ends; only messages from
// others are worth a line.
void ChannelThread::answerRefused(Message* message)
{
    if (message->owner != this)
        thread::logRaw(thread::LOG_PRIORITY_DEBUG, "Message received after HALT");
    message->refuse(this);
}

bool ChannelThread::halted() const
{
    return halted_ || MsgThread::halted();
}

} // namespace halvex::control
