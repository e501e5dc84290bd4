// What the TCP and UDP image receivers share: the messages they serve (host buffers, stops,
// stream control, halt), the image in progress, and when the throttle pauses a camera because
// download buffers run short.
#include "stream/stream_receiver.h"

#include <deque>
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
#include "registers/register_map.h"

namespace halvex::stream {

using callback::HxStreamBuffer;
using callback::isStreamKind;
using callback::streamBufferOf;
using callback::streamControlOf;
using callback::StreamControlRequest;
using control::RegisterChannel;

using thread::Message;
using thread::TRACE_STREAM;
namespace ids = message_ids;

StreamReceiver::StreamReceiver(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                               const char* className, const char* rxName)
    : ReceiverThread(cameraAddress, className, rxName), protocol_(ids::INTERNAL_START),
      registers_(std::move(registers)), throttle_(*registers_, className, label().whereText()),
      queues_(label(), [this](Message* message, uint32_t status) { finish(message, status); })
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

// Every buffer still queued goes back released; messages that arrived before the halt mark but
// were not handled are answered as a halted receiver answers them.
void StreamReceiver::closeQueues()
{
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
        HLV_LOG("%s(%s): faulted=%d, halted=%d", label().className(), label().cameraText().c_str(), 0, 1);
        stream->setResults(0, 0, HX_STREAM_STATUS_ERROR, 0);
    }
    finish(message, thread::MESSAGE_DONE);
}

void StreamReceiver::setDownloadRange(uint32_t firstFrame, uint32_t lastFrame, bool serviceSeesEveryImage)
{
    throttle_.setDownloadRange(firstFrame, lastFrame, serviceSeesEveryImage);
}

void StreamReceiver::returnDownloadsThrough(const thread::MsgThread* serviceThread)
{
    downloadReturn_ = serviceThread;
}

void StreamReceiver::countDataIn(DataCounter counter)
{
    dataIn_ = std::move(counter);
}

void StreamReceiver::countSilentEnds(DataCounter counter)
{
    silentEnds_ = std::move(counter);
}

bool StreamReceiver::streamPaused() const
{
    return throttle_.paused();
}

// Stops the camera's stream channel before the receiver goes: a camera left with a destination
// port keeps sending until its heartbeat expires.
void StreamReceiver::onHalt()
{
    registers_->writeReg(registers::GIGE_REG_SCP0, 0);
}

// The wording, misspelling included, is the line users' log filters have always matched.
void StreamReceiver::handleOther(Message& message)
{
    HLV_LOG("%s::messageHandle(%s): Unrocognized message type (0x%x)", label().className(), where(), message.req);
    finish(&message, thread::MESSAGE_FAILED);
}

RegisterChannel& StreamReceiver::registers() const
{
    return *registers_;
}

void StreamReceiver::messageHandle(Message* message)
{
    if (message->req == thread::HALT)
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
    HLV_TRACE(TRACE_STREAM, "%s(%s): HALT!", label().className(), where());
    try {
        onHalt();
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", label().className(), where(), error.str().c_str());
    }
    stopServing();
    finish(message, thread::MESSAGE_DONE);
}

// A stop gives up the image in progress and hands back the buffers of its stream kind.
void StreamReceiver::handleStreamMessage(Message* message)
{
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr) {
        HLV_LOG("%s(%s): Unexpectedly null stream message!", label().className(), where());
        finish(message, thread::MESSAGE_FAILED);
        return;
    }
    if (!stream->stop) {
        addBuffer(message, *stream);
        return;
    }
    abandonImage();
    releaseBuffers(message->req, RELEASED_STATUS);
    finish(message, thread::MESSAGE_DONE);
}

void StreamReceiver::handleControlMessage(Message* message)
{
    const StreamControlRequest* control = streamControlOf(message);
    if (control == nullptr) {
        HLV_LOG("%s(%s): Unexpectedly null ts_msg!", label().className(), where());
        finish(message, thread::MESSAGE_FAILED);
        return;
    }
    HLV_TRACE(TRACE_STREAM, "%s(%s): command=%u, flag=%u", label().className(), where(), control->command,
              control->flag);
    uint32_t status = thread::MESSAGE_DONE;
    try {
        if (control->command == StreamControlRequest::ENABLE_PARSER && control->flag != 0 &&
            control->protocol == ids::DOWNLOAD_STREAM_MSG) {
            throttle_.startDownload();
        }
        if (control->command == StreamControlRequest::PAUSE_STREAM) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): PAUSE_STREAM received.", label().className(), where());
            pauseStream(control->flag == 0);
        } else {
            status = handleControl(*control);
        }
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): Caught an exception: %s", label().className(), where(), error.str().c_str());
        status = thread::MESSAGE_FAILED;
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Caught an exception: %s", label().className(), where(), error.what());
        status = thread::MESSAGE_FAILED;
    }
    finish(message, status);
}

void StreamReceiver::addBuffer(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): Add buffer to queue request.", label().className(), where());
    HLV_TRACE(TRACE_STREAM, "%s(%s): m=%p, stream_paused=%d", label().className(), where(), static_cast<void*>(message),
              throttle_.paused() ? 1 : 0);
    if (stream.buffer() == nullptr || stream.bufferSize() == 0) {
        HLV_LOG("%s(%s): Unexpectedly null buffer in the message, m=%p", label().className(), where(),
                static_cast<void*>(message));
        finish(message, thread::MESSAGE_FAILED);
        return;
    }
    const std::size_t queued = queues_.add(message, stream);
    if (message->req != ids::DOWNLOAD_STREAM_MSG)
        return;
    if (queued >= DownloadThrottle::current().resumeCount || (throttle_.paused() && lentBuffersCoverDownload())) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): We have enough buffers, resume the stream.", label().className(), where());
        pauseStream(false);
    }
}

bool StreamReceiver::acquireBuffer()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): protocol=%u", label().className(), where(), protocol_);
    activeData_ = nullptr;
    remaining_ = 0;
    HxStreamBuffer* stream = queues_.acquire(protocol_);
    if (stream == nullptr)
        return false;
    activeData_ = static_cast<uint8_t*>(stream->buffer());
    remaining_ = stream->bufferSize();
    return true;
}

void StreamReceiver::handBack(uint32_t receivedLength)
{
    bool download = false;
    Message* message = queues_.takeActive(protocol_, seqNumber_, download);
    activeData_ = nullptr;
    remaining_ = 0;
    if (message == nullptr) {
        imageStatus_ = 0;
        return;
    }
    streamBufferOf(message)->setResults(imageLength_, seqNumber_, imageStatus_, receivedLength);
    if (download) {
        throttle_.noteImage(seqNumber_, receivedLength);
        if (throttle_.goesStraightBack(seqNumber_))
            message->skipNextStop(downloadReturn_);
    }
    imageStatus_ = 0;
    finish(message, thread::MESSAGE_DONE);
    if (!download || lentBuffersCoverDownload())
        return;
    if (DownloadThrottle::shortOfBuffers(queues_.downloadQueued(), queues_.totalQueuedBufferSpace())) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Need to pause, queue_size=%zu, total space = %zu", label().className(),
                  where(), queues_.downloadQueued(), queues_.totalQueuedBufferSpace());
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
    return queues_.wholeDownloadBuffers(imageLength_) >= *framesToCome;
}

void StreamReceiver::releaseBuffers(uint32_t queueSelector, uint32_t status)
{
    queues_.release(queueSelector, status);
    dropGoneActive();
}

void StreamReceiver::dropGoneActive()
{
    if (queues_.hasActive())
        return;
    activeData_ = nullptr;
    remaining_ = 0;
}

// Only a change is written, so repeated requests cost the camera nothing.
void StreamReceiver::pauseStream(bool pause)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d stream_paused=%d", label().className(), where(), pause ? 1 : 0,
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

std::size_t StreamReceiver::totalQueuedBufferSpace() const
{
    return queues_.totalQueuedBufferSpace();
}

} // namespace halvex::stream
