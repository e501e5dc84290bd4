// What the TCP and UDP image receivers share: the messages they serve (host buffers, stops,
// stream control, halt), the image in progress, and when the throttle pauses a camera because
// download buffers run short.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "stream/download_throttle.h"
#include "stream/host_buffer_queues.h"
#include "stream/receiver_thread.h"

namespace halvex::callback {
class HxStreamBuffer;
class StreamControlRequest;
} // namespace halvex::callback

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::stream {

// Buffers are filled on the receiver's thread only; the queues they wait in are HostBufferQueues,
// the thread's loop is ReceiverThread.
//
// Threads: post(), halted(), streamPaused(), connected(), setDownloadRange() from any
// thread; countDataIn() and countSilentEnds() before startAndWait(); startAndWait() (which runs
// startUp) from the thread that created the receiver; everything else on the receiver's own thread.
class StreamReceiver : public ReceiverThread {
public:
    // Queue selector for releaseBuffers: all three queues.
    static constexpr uint32_t ALL_QUEUES = HostBufferQueues::ALL_QUEUES;
    // Status bits a released buffer gets added: error and last.
    static constexpr uint32_t RELEASED_STATUS = 12;

    ~StreamReceiver() override;

    // Handles one message by its identifier (the receiver's own loop calls it for each message).
    void messageHandle(thread::Message* message) override;

    // The frames a download is to bring, first and last, so that the throttle never pauses a
    // camera whose remaining frames all have a lent buffer waiting: nothing would resume it; and
    // whether the camera's service thread must see every image (it converts them), or only the
    // last (which ends the download there) and those it does not expect. Takes effect with the
    // next download parser switch-on.
    static constexpr uint32_t UNKNOWN_FRAME = DownloadThrottle::UNKNOWN_FRAME;
    void setDownloadRange(uint32_t firstFrame, uint32_t lastFrame, bool serviceSeesEveryImage);
    // The thread a download's buffers visit on their way back to the host (the camera's service
    // thread, which puts itself on their route). An image that thread need not see skips it and
    // reaches the host one hand-over sooner. Set before startAndWait().
    void returnDownloadsThrough(const thread::MsgThread* serviceThread);

    // Counts image data as it arrives, for a watcher on another thread that must tell a slow
    // stream from a stopped one. Shared, so the counter outlives a replaced receiver.
    using DataCounter = std::shared_ptr<std::atomic<uint64_t>>;
    void countDataIn(DataCounter counter);
    // Counts the downloads the receiver saw fall silent before their last frame (judged from
    // their pace), for the download's watcher to end.
    void countSilentEnds(DataCounter counter);

    bool streamPaused() const;

protected:
    // className names the receiver in log lines, rxName its stream ("TCP Stream"). The camera's
    // registers (its stream channel, the pause) are reached through `registers`.
    StreamReceiver(uint32_t cameraAddress, std::shared_ptr<control::RegisterChannel> registers, const char* className,
                   const char* rxName);

    // Stream control commands other than PAUSE_STREAM; returns the message's completion status.
    virtual uint32_t handleControl(const callback::StreamControlRequest& control) = 0;
    // The image in progress is given up because its stream stops (a stop request).
    virtual void abandonImage() = 0;
    // Camera register writes when halting: the stream channel's port is cleared.
    virtual void onHalt();
    // Messages of identifiers the receiver does not know; by default logged and failed.
    virtual void handleOther(thread::Message& message);
    // The camera was just paused or resumed for the host.
    virtual void pauseChanged() {}

    control::RegisterChannel& registers() const;

    // Makes the front buffer of the current protocol's queue the active one; false when none.
    bool acquireBuffer();
    // Hands the active buffer back with the image's results and clears the image status bits.
    void handBack(uint32_t receivedLength);
    void releaseBuffers(uint32_t queueSelector, uint32_t status);
    void pauseStream(bool pause);
    // Image bytes were taken from the stream.
    void noteImageData();
    // The download fell silent before its last frame came: its watcher ends it.
    void noteSilentEnd();
    // The download's frames and pause state.
    const DownloadThrottle& downloadThrottle() const;
    std::size_t totalQueuedBufferSpace() const;

    // Shared parser state, named as the log lines name it.
    uint32_t protocol_;
    uint32_t imageStatus_ = 0;
    uint32_t seqNumber_ = 0;
    uint32_t imageLength_ = 0;
    bool leaderError_ = false;
    // The active buffer: where the next payload byte goes and how much room is left.
    uint8_t* activeData_ = nullptr;
    std::size_t remaining_ = 0;

private:
    void handleHaltMessage(thread::Message* message);
    void handleStreamMessage(thread::Message* message);
    void handleControlMessage(thread::Message* message);
    void addBuffer(thread::Message* message, callback::HxStreamBuffer& stream);
    void closeQueues() override;
    void answerRefused(thread::Message* message) override;
    // The queues may have let the active buffer go; its memory is then no longer ours to fill.
    void dropGoneActive();
    // Download queue buffers that hold a whole image each cover every frame still to come.
    bool lentBuffersCoverDownload() const;

    const std::shared_ptr<control::RegisterChannel> registers_;
    DownloadThrottle throttle_;
    HostBufferQueues queues_;
    DataCounter dataIn_;
    DataCounter silentEnds_;
    const thread::MsgThread* downloadReturn_ = nullptr;
};

} // namespace halvex::stream
