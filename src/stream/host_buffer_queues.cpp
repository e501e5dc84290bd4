// The host buffers lent to a stream receiver: one queue per stream kind, the buffer being filled,
// the space the download's buffers offer, and their return to the host.
#include "stream/host_buffer_queues.h"

#include <algorithm>
#include <utility>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "stream/receiver_label.h"

namespace halvex::stream {

using callback::HxStreamBuffer;
using callback::streamBufferOf;

using thread::Message;
using thread::TRACE_STREAM;
namespace ids = message_ids;

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

HostBufferQueues::HostBufferQueues(const ReceiverLabel& label, Finish finish)
    : label_(label), finish_(std::move(finish))
{
}

std::size_t HostBufferQueues::add(Message* message, const HxStreamBuffer& stream)
{
    std::deque<Message*>* queue = queueFor(message->req);
    queue->push_back(message);
    if (message->req != ids::DOWNLOAD_STREAM_MSG) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): %s queue size=%zu", label_.className(), label_.where(),
                  message->req == ids::LIVE_STREAM_MSG ? "LIVE" : "PLAYBACK", queue->size());
        return queue->size();
    }
    totalQueuedBufferSpace_ += stream.bufferSize();
    HLV_TRACE(TRACE_STREAM, "%s(%s): DOWNLOAD queue size=%zu, total_queued_buffer_space=%zu", label_.className(),
              label_.where(), queue->size(), totalQueuedBufferSpace_);
    return queue->size();
}

HxStreamBuffer* HostBufferQueues::acquire(uint32_t kind)
{
    forgetActive();
    if (kind == ids::INTERNAL_START) {
        HLV_LOG("%s(%s): Unexpected queue type HX_MESSAGE_IDS::INTERNAL_START(%u)", label_.className(), label_.where(),
                kind);
        return nullptr;
    }
    std::deque<Message*>* queue = queueFor(kind);
    if (queue == nullptr) {
        HLV_LOG("%s(%s): Unknown queue type (%d)", label_.className(), label_.where(), static_cast<int>(kind));
        return nullptr;
    }
    if (queue->empty()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): rx_%s_queue is empty!", label_.className(), label_.where(), queueName(kind));
        HLV_TRACE(TRACE_STREAM, "%s(%s): No buffer available!", label_.className(), label_.where());
        return nullptr;
    }
    HxStreamBuffer* stream = streamBufferOf(queue->front());
    if (stream == nullptr)
        HLV_THROW(thread::LogicError, "rx_queue doesn't not have a _Stream message at front!");
    activeMessage_ = queue->front();
    activeKind_ = kind;
    return stream;
}

Message* HostBufferQueues::takeActive(uint32_t protocol, uint32_t seqNumber, bool& download)
{
    std::deque<Message*>* queue = queueFor(activeKind_);
    if (activeMessage_ == nullptr || queue == nullptr || queue->empty() || queue->front() != activeMessage_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): rx_%s_queue is empty!", label_.className(), label_.where(),
                  queueName(protocol));
        forgetActive();
        return nullptr;
    }
    Message* message = queue->front();
    queue->pop_front();
    download = activeKind_ == ids::DOWNLOAD_STREAM_MSG;
    HLV_TRACE(TRACE_STREAM, "%s(%s): seq_number=%u, m=%p", label_.className(), label_.where(), seqNumber,
              static_cast<void*>(message));
    if (download) {
        const std::size_t size = streamBufferOf(message)->bufferSize();
        takeDownloadSpace(size);
        HLV_TRACE(TRACE_STREAM, "%s(%s): total_queued_buffer_space=%zu, stream_msg->get_buffer_size()=%zu queue=%zu",
                  label_.className(), label_.where(), totalQueuedBufferSpace_, size, queue->size());
    }
    forgetActive();
    return message;
}

void HostBufferQueues::release(uint32_t queueSelector, uint32_t status)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): queue=%u", label_.className(), label_.where(), queueSelector);
    const bool all = queueSelector == ALL_QUEUES;
    if (all || queueSelector == ids::DOWNLOAD_STREAM_MSG)
        releaseQueue(downloadQueue_, "DOWNLOAD", status);
    if (all || queueSelector == ids::LIVE_STREAM_MSG)
        releaseQueue(liveQueue_, "LIVE", status);
    if (all || queueSelector == ids::PLAYBACK_STREAM_MSG)
        releaseQueue(playbackQueue_, "PLAYBACK", status);
}

void HostBufferQueues::releaseQueue(std::deque<Message*>& queue, const char* name, uint32_t status)
{
    const bool download = &queue == &downloadQueue_;
    while (!queue.empty()) {
        Message* message = queue.front();
        queue.pop_front();
        if (message == activeMessage_)
            forgetActive();
        HLV_TRACE(TRACE_STREAM, "%s(%s): %s m=%p", label_.className(), label_.where(), name,
                  static_cast<void*>(message));
        if (HxStreamBuffer* stream = streamBufferOf(message)) {
            if (download)
                takeDownloadSpace(stream->bufferSize());
            stream->setResults(0, 0, stream->record().status | status, 0);
            stream->released = true;
        }
        finish_(message, thread::MESSAGE_DONE);
    }
}

bool HostBufferQueues::hasActive() const
{
    return activeMessage_ != nullptr;
}

std::size_t HostBufferQueues::downloadQueued() const
{
    return downloadQueue_.size();
}

std::size_t HostBufferQueues::totalQueuedBufferSpace() const
{
    return totalQueuedBufferSpace_;
}

std::size_t HostBufferQueues::wholeDownloadBuffers(uint32_t imageLength) const
{
    std::size_t whole = 0;
    for (const Message* message : downloadQueue_) {
        const HxStreamBuffer* stream = streamBufferOf(const_cast<Message*>(message));
        if (stream != nullptr && stream->bufferSize() >= imageLength)
            ++whole;
    }
    return whole;
}

void HostBufferQueues::forgetActive()
{
    activeMessage_ = nullptr;
    activeKind_ = 0;
}

void HostBufferQueues::takeDownloadSpace(std::size_t size)
{
    totalQueuedBufferSpace_ -= std::min(totalQueuedBufferSpace_, size);
}

std::deque<Message*>* HostBufferQueues::queueFor(uint32_t kind)
{
    return const_cast<std::deque<Message*>*>(static_cast<const HostBufferQueues*>(this)->queueFor(kind));
}

const std::deque<Message*>* HostBufferQueues::queueFor(uint32_t kind) const
{
    switch (kind) {
    case ids::DOWNLOAD_STREAM_MSG: return &downloadQueue_;
    case ids::LIVE_STREAM_MSG: return &liveQueue_;
    case ids::PLAYBACK_STREAM_MSG: return &playbackQueue_;
    default: return nullptr;
    }
}

} // namespace halvex::stream
