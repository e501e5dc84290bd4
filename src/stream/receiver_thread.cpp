// The message thread under a stream receiver: its start-up on the creating thread, its loop of
// queued messages and stream reads, how it ends, and how it completes the messages it handles.
#include "stream/receiver_thread.h"

#include <exception>

#include "callback/callback_message_ids.h"
#include "camera/camera_message_ids.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"

namespace halvex::stream {

using thread::Message;
namespace ids = message_ids;

ReceiverThread::ReceiverThread(uint32_t cameraAddress, const char* className, const char* rxName)
    : MsgThread(WakeOnPost::Yes), label_(cameraAddress, className, rxName)
{
}

// A failed start-up ends the receiver as its thread would have ended it, so it reports itself
// halted and answers whatever was posted to it.
bool ReceiverThread::startAndWait()
{
    if (!runStartUp()) {
        endThread();
        return false;
    }
    try {
        start();
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", label_.className(), where(), error.what());
        endThread();
        return false;
    }
    return true;
}

bool ReceiverThread::runStartUp()
{
    try {
        if (postWake()->valid())
            return startUp();
        HLV_LOG("%s(%s): Could not create MSG_EVENT signal event\n%s", label_.className(), where(),
                platform::errnoIndicates(postWake()->error()).c_str());
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", label_.className(), where(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", label_.className(), where(), error.what());
    }
    return false;
}

void ReceiverThread::run()
{
    serve();
    endThread();
}

void ReceiverThread::serve()
{
    try {
        for (;;) {
            drainQueue();
            if (haltHandled_)
                return;
            waitAndRead();
        }
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): Exception during %s Rx; terminating: %s", label_.className(), where(), label_.rxName(),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during %s Rx; terminating: %s", label_.className(), where(), label_.rxName(),
                error.what());
    }
}

// Marked halted first, so that whoever gets a released buffer back sees the receiver halted.
void ReceiverThread::endThread()
{
    try {
        shutDown();
    } catch (...) {
        HLV_LOG("%s(%s): Exception while closing the stream", label_.className(), where());
    }
    setConnected(false);
    closeQueues();
}

void ReceiverThread::post(Message* message)
{
    postSkippingNop(message);
}

void ReceiverThread::reportWakeNotSet()
{
    HLV_LOG("%s(%s): Could not set the signalling event\n%s", label_.className(), label_.cameraText().c_str(),
            platform::errnoIndicates(postWake()->error()).c_str());
}

std::string ReceiverThread::messageName(uint32_t id) const
{
    switch (id) {
    case ids::DOWNLOAD_STREAM_MSG: return "HX_MESSAGE_IDS::DOWNLOAD_STREAM_MSG";
    case ids::PLAYBACK_STREAM_MSG: return "HX_MESSAGE_IDS::PLAYBACK_STREAM_MSG";
    case ids::LIVE_STREAM_MSG: return "HX_MESSAGE_IDS::LIVE_STREAM_MSG";
    case ids::STREAM_CONTROL_MSG: return "HX_MESSAGE_IDS::STREAM_CONTROL_MSG";
    default: return MsgThread::messageName(id);
    }
}

uint32_t ReceiverThread::cameraAddress() const
{
    return label_.cameraAddress();
}

bool ReceiverThread::connected() const
{
    return connected_;
}

void ReceiverThread::stopServing()
{
    haltHandled_ = true;
}

void ReceiverThread::setConnected(bool isConnected)
{
    connected_ = isConnected;
}

const ReceiverLabel& ReceiverThread::label() const
{
    return label_;
}

const char* ReceiverThread::where() const
{
    return label_.where();
}

void ReceiverThread::setLocalPort(uint16_t port)
{
    label_.setLocalPort(port);
}

void ReceiverThread::drainQueue()
{
    while (Message* next = nextMessage())
        dispatch(next);
}

// Dispatch goes by identifier; only a message that has been somewhere and came back to this
// receiver as its owner is finished as returned.
void ReceiverThread::dispatch(Message* message)
{
    if (message->owner == this && message->status != thread::MESSAGE_PENDING) {
        ownerMessage(message);
        return;
    }
    messageHandle(message);
}

void ReceiverThread::finish(Message* message, uint32_t status)
{
    message->status = status;
    const bool goesOn =
        message->synchronous() || !message->routeEmpty() || (message->owner != nullptr && message->owner != this);
    if (!goesOn) {
        delete message;
        return;
    }
    try {
        message->forward();
        return;
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): Unable to forward [%p]: %s", label_.className(), where(), static_cast<void*>(message),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Unable to forward [%p]: %s", label_.className(), where(), static_cast<void*>(message),
                error.what());
    }
    if (!message->synchronous())
        delete message;
}

} // namespace halvex::stream
