// What the TCP and UDP image receivers share: their message queue, the three host-buffer queues,
// handing buffers back, and the throttle that pauses a camera when download buffers run short.
#include "stream/stream_receiver.h"

#include <exception>
#include <optional>
#include <utility>

#include "callback/callback_message_ids.h"
#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "registers/register_map.h"

using HLV_THREAD::Message;
using HLV_THREAD::TRACE_STREAM;
namespace ids = HX_MESSAGE_IDS;

namespace {

const char* queueName(uint32_t kind)
{
    switch (kind) {
    case ids::DOWNLOAD_STREAM_MSG: return "download";
    case ids::LIVE_STREAM_MSG: return "live";
    case ids::PLAYBACK_STREAM_MSG: return "playback";
    default: return "unknown";
    }
}

} // namespace

StreamReceiver::StreamReceiver(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                               const char* className, const char* rxName)
    : MsgThread(WakeOnPost::Yes), protocol_(ids::INTERNAL_START), className_(className), rxName_(rxName),
      cameraAddress_(cameraAddress), registers_(std::move(registers)),
      where_(HX_PLATFORM::ipv4ToText(cameraAddress) + ":0"), throttle_(*registers_, className, where_)
{
}

// Messages still queued belong to a receiver whose thread never ran: answer them so that no
// sender waits for ever.
StreamReceiver::~StreamReceiver()
{
    requireJoined("StreamReceiver::~StreamReceiver");
    for (Message* message : closeQueue())
        answerRefused(message);
}

// A failed start-up ends the receiver as its thread would have ended it, so it reports itself
// halted and answers whatever was posted to it.
bool StreamReceiver::startAndWait()
{
    if (!runStartUp()) {
        endThread();
        return false;
    }
    try {
        start();
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", className_, where(), error.what());
        endThread();
        return false;
    }
    return true;
}

bool StreamReceiver::runStartUp()
{
    try {
        if (postWake()->valid())
            return startUp();
        HLV_LOG("%s(%s): Could not create MSG_EVENT signal event\n%s", className_, where(),
                HX_PLATFORM::errnoIndicates(postWake()->error()).c_str());
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", className_, where(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during start-up: %s", className_, where(), error.what());
    }
    return false;
}

void StreamReceiver::run()
{
    serve();
    endThread();
}

void StreamReceiver::serve()
{
    try {
        for (;;) {
            drainQueue();
            if (haltHandled_)
                return;
            waitAndRead();
        }
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): Exception during %s Rx; terminating: %s", className_, where(), rxName_, error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Exception during %s Rx; terminating: %s", className_, where(), rxName_, error.what());
    }
}

// Marked halted first, so that whoever gets a released buffer back sees the receiver halted.
// Every buffer still queued goes back released; messages that arrived before the halt mark but
// were not handled are answered as a halted receiver answers them.
void StreamReceiver::endThread()
{
    try {
        shutDown();
    } catch (...) {
        HLV_LOG("%s(%s): Exception while closing the stream", className_, where());
    }
    setConnected(false);
    std::deque<Message*> left = closeQueue();
    releaseBuffers(ALL_QUEUES, RELEASED_STATUS);
    for (Message* message : left)
        answerRefused(message);
}

// A buffer handed to a halted receiver comes straight back marked faulty; anything else is
// refused, which releases a waiting sender or deletes an ownerless message.
void StreamReceiver::answerRefused(Message* message)
{
    HxStreamBuffer* stream = isStreamKind(message->req) ? streamBufferOf(message) : nullptr;
    if (stream == nullptr) {
        message->refuse(this);
        return;
    }
    if (!stream->stop) {
        HLV_LOG("%s(%s): faulted=%d, halted=%d", className_, HX_PLATFORM::ipv4ToText(cameraAddress_).c_str(), 0, 1);
        stream->setResults(0, 0, HX_STREAM_STATUS_ERROR, 0);
    }
    finish(message, HLV_THREAD::MESSAGE_DONE);
}

void StreamReceiver::post(Message* message)
{
    postSkippingNop(message);
}

void StreamReceiver::reportWakeNotSet()
{
    HLV_LOG("%s(%s): Could not set the signalling event\n%s", className_,
            HX_PLATFORM::ipv4ToText(cameraAddress_).c_str(), HX_PLATFORM::errnoIndicates(postWake()->error()).c_str());
}

std::string StreamReceiver::messageName(uint32_t id) const
{
    switch (id) {
    case ids::DOWNLOAD_STREAM_MSG: return "HX_MESSAGE_IDS::DOWNLOAD_STREAM_MSG";
    case ids::PLAYBACK_STREAM_MSG: return "HX_MESSAGE_IDS::PLAYBACK_STREAM_MSG";
    case ids::LIVE_STREAM_MSG: return "HX_MESSAGE_IDS::LIVE_STREAM_MSG";
    case ids::STREAM_CONTROL_MSG: return "HX_MESSAGE_IDS::STREAM_CONTROL_MSG";
    default: return MsgThread::messageName(id);
    }
}

void StreamReceiver::setDownloadRange(uint32_t firstFrame, uint32_t lastFrame)
{
    throttle_.setDownloadRange(firstFrame, lastFrame);
}

void StreamReceiver::countDataIn(DataCounter counter)
{
    dataIn_ = std::move(counter);
}

void StreamReceiver::countSilentEnds(DataCounter counter)
{
    silentEnds_ = std::move(counter);
}

uint32_t StreamReceiver::cameraAddress() const
{
    return cameraAddress_;
}

bool StreamReceiver::streamPaused() const
{
    return throttle_.paused();
}

bool StreamReceiver::connected() const
{
    return connected_;
}

// Stops the camera's stream channel before the receiver goes: a camera left with a destination
// port keeps sending until its heartbeat expires.
void StreamReceiver::onHalt()
{
    registers_->writeReg(HX_REGISTERS::GIGE_REG_SCP0, 0);
}

// The wording, misspelling included, is the line users' log filters have always matched.
void StreamReceiver::handleOther(Message& message)
{
    HLV_LOG("%s::messageHandle(%s): Unrocognized message type (0x%x)", className_, where(), message.req);
    finish(&message, HLV_THREAD::MESSAGE_FAILED);
}

void StreamReceiver::setConnected(bool isConnected)
{
    connected_ = isConnected;
}

const char* StreamReceiver::where() const
{
    return where_.c_str();
}

RegisterChannel& StreamReceiver::registers() const
{
    return *registers_;
}

const std::string& StreamReceiver::whereText() const
{
    return where_;
}

void StreamReceiver::setLocalPort(uint16_t port)
{
    where_ = HX_PLATFORM::ipv4ToText(cameraAddress_) + ":" + std::to_string(port);
}

void StreamReceiver::drainQueue()
{
    while (Message* next = nextMessage())
        dispatch(next);
}

// Dispatch goes by identifier; only a message that has been somewhere and came back to this
// receiver as its owner is finished as returned.
void StreamReceiver::dispatch(Message* message)
{
    if (message->owner == this && message->status != HLV_THREAD::MESSAGE_PENDING) {
        ownerMessage(message);
        return;
    }
    messageHandle(message);
}

void StreamReceiver::messageHandle(Message* message)
{
    if (message->req == HLV_THREAD::HALT)
        handleHaltMessage(message);
    else if (isStreamKind(message->req))
        handleStreamMessage(message);
    else if (message->req == ids::STREAM_CONTROL_MSG)
        handleControlMessage(message);
    else
        handleOther(*message);
}

void StreamReceiver::handleHaltMessage(Message* message)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): HALT!", className_, where());
    try {
        onHalt();
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", className_, where(), error.str().c_str());
    }
    haltHandled_ = true;
    finish(message, HLV_THREAD::MESSAGE_DONE);
}

void StreamReceiver::handleStreamMessage(Message* message)
{
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr) {
        HLV_LOG("%s(%s): Unexpectedly null stream message!", className_, where());
        finish(message, HLV_THREAD::MESSAGE_FAILED);
        return;
    }
    if (stream->stop)
        handleStop(message, *stream);
    else
        addBuffer(message, *stream);
}

void StreamReceiver::handleControlMessage(Message* message)
{
    const StreamControlRequest* control = streamControlOf(message);
    if (control == nullptr) {
        HLV_LOG("%s(%s): Unexpectedly null ts_msg!", className_, where());
        finish(message, HLV_THREAD::MESSAGE_FAILED);
        return;
    }
    HLV_TRACE(TRACE_STREAM, "%s(%s): command=%u, flag=%u", className_, where(), control->command, control->flag);
    uint32_t status = HLV_THREAD::MESSAGE_DONE;
    try {
        if (control->command == StreamControlRequest::ENABLE_PARSER && control->flag != 0 &&
            control->protocol == ids::DOWNLOAD_STREAM_MSG) {
            throttle_.startDownload();
        }
        if (control->command == StreamControlRequest::PAUSE_STREAM) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): PAUSE_STREAM received.", className_, where());
            pauseStream(control->flag == 0);
        } else {
            status = handleControl(*control);
        }
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): Caught an exception: %s", className_, where(), error.str().c_str());
        status = HLV_THREAD::MESSAGE_FAILED;
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Caught an exception: %s", className_, where(), error.what());
        status = HLV_THREAD::MESSAGE_FAILED;
    }
    finish(message, status);
}

void StreamReceiver::finish(Message* message, uint32_t status)
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
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): Unable to forward [%p]: %s", className_, where(), static_cast<void*>(message),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Unable to forward [%p]: %s", className_, where(), static_cast<void*>(message), error.what());
    }
    if (!message->synchronous())
        delete message;
}

void StreamReceiver::addBuffer(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): Add buffer to queue request.", className_, where());
    HLV_TRACE(TRACE_STREAM, "%s(%s): m=%p, stream_paused=%d", className_, where(), static_cast<void*>(message),
              throttle_.paused() ? 1 : 0);
    if (stream.buffer() == nullptr || stream.bufferSize() == 0) {
        HLV_LOG("%s(%s): Unexpectedly null buffer in the message, m=%p", className_, where(),
                static_cast<void*>(message));
        finish(message, HLV_THREAD::MESSAGE_FAILED);
        return;
    }
    std::deque<Message*>* queue = queueFor(message->req);
    queue->push_back(message);
    if (message->req != ids::DOWNLOAD_STREAM_MSG) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): %s queue size=%zu", className_, where(),
                  message->req == ids::LIVE_STREAM_MSG ? "LIVE" : "PLAYBACK", queue->size());
        return;
    }
    totalQueuedBufferSpace_ += stream.bufferSize();
    HLV_TRACE(TRACE_STREAM, "%s(%s): DOWNLOAD queue size=%zu, total_queued_buffer_space=%zu", className_, where(),
              queue->size(), totalQueuedBufferSpace_);
    if (queue->size() >= DownloadThrottle::current().resumeCount ||
        (throttle_.paused() && lentBuffersCoverDownload())) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): We have enough buffers, resume the stream.", className_, where());
        pauseStream(false);
    }
}

bool StreamReceiver::acquireBuffer()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): protocol=%u", className_, where(), protocol_);
    forgetActive();
    if (protocol_ == ids::INTERNAL_START) {
        HLV_LOG("%s(%s): Unexpected queue type HX_MESSAGE_IDS::INTERNAL_START(%u)", className_, where(), protocol_);
        return false;
    }
    std::deque<Message*>* queue = queueFor(protocol_);
    if (queue == nullptr) {
        HLV_LOG("%s(%s): Unknown queue type (%d)", className_, where(), static_cast<int>(protocol_));
        return false;
    }
    if (queue->empty()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): rx_%s_queue is empty!", className_, where(), queueName(protocol_));
        HLV_TRACE(TRACE_STREAM, "%s(%s): No buffer available!", className_, where());
        return false;
    }
    HxStreamBuffer* stream = streamBufferOf(queue->front());
    if (stream == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "rx_queue doesn't not have a _Stream message at front!");
    activeMessage_ = queue->front();
    activeKind_ = protocol_;
    activeData_ = static_cast<uint8_t*>(stream->buffer());
    remaining_ = stream->bufferSize();
    return true;
}

void StreamReceiver::forgetActive()
{
    activeMessage_ = nullptr;
    activeKind_ = 0;
    activeData_ = nullptr;
    remaining_ = 0;
}

// The active buffer is always the front of the queue it came from: buffers join at the back and
// only this thread takes them off.
void StreamReceiver::handBack(uint32_t receivedLength)
{
    std::deque<Message*>* queue = queueFor(activeKind_);
    if (activeMessage_ == nullptr || queue == nullptr || queue->empty() || queue->front() != activeMessage_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): rx_%s_queue is empty!", className_, where(), queueName(protocol_));
        forgetActive();
        imageStatus_ = 0;
        return;
    }
    Message* message = queue->front();
    queue->pop_front();
    const bool download = activeKind_ == ids::DOWNLOAD_STREAM_MSG;
    HxStreamBuffer* stream = streamBufferOf(message);
    HLV_TRACE(TRACE_STREAM, "%s(%s): seq_number=%u, m=%p", className_, where(), seqNumber_,
              static_cast<void*>(message));
    if (download) {
        totalQueuedBufferSpace_ -= std::min(totalQueuedBufferSpace_, stream->bufferSize());
        HLV_TRACE(TRACE_STREAM, "%s(%s): total_queued_buffer_space=%zu, stream_msg->get_buffer_size()=%zu queue=%zu",
                  className_, where(), totalQueuedBufferSpace_, stream->bufferSize(), queue->size());
    }
    stream->setResults(imageLength_, seqNumber_, imageStatus_, receivedLength);
    if (download)
        throttle_.noteImage(seqNumber_, receivedLength);
    forgetActive();
    imageStatus_ = 0;
    finish(message, HLV_THREAD::MESSAGE_DONE);
    if (!download)
        return;
    if (lentBuffersCoverDownload())
        return;
    if (DownloadThrottle::shortOfBuffers(downloadQueue_.size(), totalQueuedBufferSpace_)) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Need to pause, queue_size=%zu, total space = %zu", className_, where(),
                  downloadQueue_.size(), totalQueuedBufferSpace_);
        pauseStream(true);
    }
}

// A camera paused while every frame it still has to send already has a buffer waiting would never
// be resumed: the host has nothing more to lend, and the buffers it lent never come back.
bool StreamReceiver::lentBuffersCoverDownload() const
{
    const std::optional<std::size_t> framesToCome = throttle_.framesToCome();
    if (!framesToCome)
        return false;
    if (*framesToCome == 0)
        return true;
    std::size_t whole = 0;
    for (const Message* message : downloadQueue_) {
        const HxStreamBuffer* stream = streamBufferOf(const_cast<Message*>(message));
        if (stream != nullptr && stream->bufferSize() >= imageLength_)
            ++whole;
    }
    return whole >= *framesToCome;
}

void StreamReceiver::releaseBuffers(uint32_t queueSelector, uint32_t status)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): queue=%u", className_, where(), queueSelector);
    const bool all = queueSelector == ALL_QUEUES;
    if (all || queueSelector == ids::DOWNLOAD_STREAM_MSG)
        releaseQueue(downloadQueue_, "DOWNLOAD", status);
    if (all || queueSelector == ids::LIVE_STREAM_MSG)
        releaseQueue(liveQueue_, "LIVE", status);
    if (all || queueSelector == ids::PLAYBACK_STREAM_MSG)
        releaseQueue(playbackQueue_, "PLAYBACK", status);
}

void StreamReceiver::releaseQueue(std::deque<Message*>& queue, const char* label, uint32_t status)
{
    const bool download = &queue == &downloadQueue_;
    while (!queue.empty()) {
        Message* message = queue.front();
        queue.pop_front();
        if (message == activeMessage_)
            forgetActive();
        HLV_TRACE(TRACE_STREAM, "%s(%s): %s m=%p", className_, where(), label, static_cast<void*>(message));
        if (HxStreamBuffer* stream = streamBufferOf(message)) {
            if (download)
                totalQueuedBufferSpace_ -= std::min(totalQueuedBufferSpace_, stream->bufferSize());
            stream->setResults(0, 0, stream->record().status | status, 0);
            stream->released = true;
        }
        finish(message, HLV_THREAD::MESSAGE_DONE);
    }
}

// Only a change is written, so repeated requests cost the camera nothing.
void StreamReceiver::pauseStream(bool pause)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d stream_paused=%d", className_, where(), pause ? 1 : 0,
              throttle_.paused() ? 1 : 0);
    if (!throttle_.change(pause))
        return;
    pauseChanged();
    throttle_.tellCamera(pause);
}

void StreamReceiver::noteImageData()
{
    if (dataIn_)
        dataIn_->fetch_add(1, std::memory_order_relaxed);
}

void StreamReceiver::noteSilentEnd()
{
    if (silentEnds_)
        silentEnds_->fetch_add(1, std::memory_order_relaxed);
}

const DownloadThrottle& StreamReceiver::downloadThrottle() const
{
    return throttle_;
}

void StreamReceiver::handleStop(Message* message, HxStreamBuffer&)
{
    abandonImage();
    releaseBuffers(message->req, RELEASED_STATUS);
    finish(message, HLV_THREAD::MESSAGE_DONE);
}

std::size_t StreamReceiver::totalQueuedBufferSpace() const
{
    return totalQueuedBufferSpace_;
}

std::deque<Message*>* StreamReceiver::queueFor(uint32_t kind)
{
    return const_cast<std::deque<Message*>*>(static_cast<const StreamReceiver*>(this)->queueFor(kind));
}

const std::deque<Message*>* StreamReceiver::queueFor(uint32_t kind) const
{
    switch (kind) {
    case ids::DOWNLOAD_STREAM_MSG: return &downloadQueue_;
    case ids::LIVE_STREAM_MSG: return &liveQueue_;
    case ids::PLAYBACK_STREAM_MSG: return &playbackQueue_;
    default: return nullptr;
    }
}
