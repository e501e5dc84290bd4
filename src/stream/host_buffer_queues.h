// The host buffers lent to a stream receiver: one queue per stream kind, the buffer being filled,
// the space the download's buffers offer, and their return to the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace halvex::callback {
class HxStreamBuffer;
} // namespace halvex::callback

namespace halvex::thread {
class Message;
}

namespace halvex::stream {

class ReceiverLabel;

// Buffers join at the back of their queue and only the receiver's thread takes them off, so the
// active buffer is always the front of the queue it came from.
//
// Threads: the receiver's thread only.
class HostBufferQueues {
public:
    // Queue selector for release: all three queues.
    static constexpr uint32_t ALL_QUEUES = 0xFFFFFFFF;
    // Completes a message the queues are done with (the receiver's own rule).
    using Finish = std::function<void(thread::Message* message, uint32_t status)>;

    // `label` names the receiver in log lines and outlives the queues.
    HostBufferQueues(const ReceiverLabel& label, Finish finish);

    // Queues a host buffer (one that has memory) by its message's stream kind; the length of that
    // queue afterwards.
    std::size_t add(thread::Message* message, const callback::HxStreamBuffer& stream);
    // Makes the front buffer of `kind`'s queue the active one; null (with a log or trace line)
    // when there is none.
    callback::HxStreamBuffer* acquire(uint32_t kind);
    // The active buffer, taken off its queue to go back to the host; null (traced, naming the
    // queue of `protocol`) when there is none. `download` tells whether it is a download's.
    thread::Message* takeActive(uint32_t protocol, uint32_t seqNumber, bool& download);
    // Every buffer of the selected queues goes back released, its status or-ed with `status`.
    void release(uint32_t queueSelector, uint32_t status);

    bool hasActive() const;
    std::size_t downloadQueued() const;
    std::size_t totalQueuedBufferSpace() const;
    // Download buffers large enough for a whole image of `imageLength` bytes.
    std::size_t wholeDownloadBuffers(uint32_t imageLength) const;

private:
    std::deque<thread::Message*>* queueFor(uint32_t kind);
    const std::deque<thread::Message*>* queueFor(uint32_t kind) const;
    void forgetActive();
    void releaseQueue(std::deque<thread::Message*>& queue, const char* name, uint32_t status);
    void takeDownloadSpace(std::size_t size);

    const ReceiverLabel& label_;
    const Finish finish_;
    std::deque<thread::Message*> downloadQueue_;
    std::deque<thread::Message*> liveQueue_;
    std::deque<thread::Message*> playbackQueue_;
    std::size_t totalQueuedBufferSpace_ = 0;
    thread::Message* activeMessage_ = nullptr;
    uint32_t activeKind_ = 0;
};

} // namespace halvex::stream
