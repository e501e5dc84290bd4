// A camera's control channel: opening it, the thread body, message dispatch, halt, and the end of
// a channel that fails whatever still waits on it.
#include <exception>
#include <memory>

#include "control/hx_comm.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

using HLV_THREAD::MESSAGE_DONE;
using HLV_THREAD::MESSAGE_FAILED;

namespace {

struct MessageName {
    uint32_t id;
    const char* name;
};

constexpr MessageName MESSAGE_NAMES[] = {
    {HX_COMM::HMP_MSG, "HX_COMM::HMPMessage"},
    {HX_COMM::PURGE_MSG, "HX_COMM::PurgeMessage"},
    {HX_COMM::READ_REG_MSG, "HX_COMM::ReadRegMessage"},
    {HX_COMM::WRITE_REG_MSG, "HX_COMM::WriteRegMessage"},
    {HX_COMM::READ_MEM_MSG, "HX_COMM::ReadMemMessage"},
    {HX_COMM::WRITE_MEM_MSG, "HX_COMM::WriteMemMessage"},
    {HX_COMM::READ_MULTI_REG_MSG, "HX_COMM::ReadMultiRegMessage"},
    {HX_COMM::WRITE_MULTI_REG_MSG, "HX_COMM::WriteMultiRegMessage"},
};

} // namespace

// Runs on the creating thread before the channel's thread starts: sockets and the opening
// datagram. A channel that could not open has failed everything waiting on it.
bool HxComm::open()
{
    try {
        if (startComms()) {
            sendOpeningDatagram();
            return true;
        }
        HLV_LOG("%s: Unable to start communicating!", "HxComm::run");
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.what());
    }
    endChannel();
    return false;
}

void HxComm::run()
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", "HxComm::run", cameraName_.c_str());
    try {
        while (!loopFinished())
            processLoop();
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during HxComm; terminating: %s", "HxComm::run", error.what());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "HxComm::run");
    }
    endChannel();
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Done", "HxComm::run", cameraName_.c_str());
}

// However the loop ended (halt, exception, failed start), nobody may wait on this channel any
// longer: pending requests fail as "channel down", and whatever is still queued, or posted from
// now on, is refused.
void HxComm::endChannel()
{
    halted_ = true;
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        failPending(true, "HxComm::endChannel");
    }
    for (Message* message : closeQueue())
        message->refuse(this);
}

bool HxComm::loopFinished()
{
    return halted() && !messagesWaiting();
}

// Handlers catch what they can; anything that still escapes is logged here so that one bad
// message cannot end a channel others are waiting on.
void HxComm::dispatch(Message* message)
{
    try {
        if (message->owner == this)
            ownerMessage(message);
        else
            messageHandle(message);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", "HxComm::dispatch", cameraName_.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): std::exception: '%s'", "HxComm::dispatch", cameraName_.c_str(), error.what());
    }
}

void HxComm::messageHandle(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "HxComm::messageHandle");
        return;
    }
    if (!isKnown(cameraAddress_)) {
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req=%d, NOT CONNECTED", "HxComm::messageHandle", cameraName_.c_str(),
                  message->req);
        replyFailed(message);
        return;
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req=%d", "HxComm::messageHandle", cameraName_.c_str(), message->req);
    switch (message->req) {
    case HLV_THREAD::HALT: handleHalt(message); break;
    default:
        HLV_LOG("Unrecognized message type: 0x%x", message->req);
        replyFailed(message);
        break;
    }
}

// Releases the camera (write gate closed, control privilege given up) before the loop ends. Under
// the exchange lock, so no caller's command can follow the releases on the wire.
void HxComm::handleHalt(Message* message)
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): [HALT]", "HxComm::handleHalt", cameraName_.c_str());
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        pokeReg(HX_WIRE::kWriteGateRegister, HX_WIRE::kWriteGateClosed);
        pokeReg(HX_WIRE::kControlPrivilegeRegister, 0);
        halted_ = true;
        failPending(true, "HxComm::handleHalt");
    }
    message->reply(MESSAGE_DONE);
}

// A message nobody else will take back (no owner, no route, not synchronous) is deleted.
void HxComm::replyFailed(Message* message)
{
    if (!message->synchronous() && message->owner == nullptr && message->routeEmpty()) {
        delete message;
        return;
    }
    message->reply(MESSAGE_FAILED);
}

void HxComm::ownerMessage(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "HxComm::ownerMessage");
        return;
    }
    // Messages that come back to this thread were made by it and end here.
    std::unique_ptr<Message> owned(message->synchronous() ? nullptr : message);
    switch (message->req) {
    case HLV_THREAD::HALT: halted_ = true; break;
    case HX_COMM::HMP_MSG: handleHmpMsg(dynamic_cast<HX_COMM::HMPMessage*>(message)); break;
    case HX_COMM::PURGE_MSG: {
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s)", "HxComm::purge", cameraName_.c_str());
        std::lock_guard<std::mutex> guard(exchangeLock_);
        failPending(true, "HxComm::purge");
        break;
    }
    default:
        HLV_LOG("Unrecognized message type: 0x%x", message->req);
        message->status = MESSAGE_FAILED;
        break;
    }
    if (message->synchronous())
        message->forward();
}

std::string HxComm::messageName(uint32_t id) const
{
    for (const MessageName& known : MESSAGE_NAMES) {
        if (known.id == id)
            return known.name;
    }
    return MsgThread::messageName(id);
}
