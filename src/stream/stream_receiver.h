// What the TCP and UDP image receivers share: their message queue, the three host-buffer queues,
// handing buffers back, and when the throttle pauses a camera because download buffers run short.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "hlv_thread/msg_thread.h"
#include "stream/download_throttle.h"

class HxStreamBuffer;
class RegisterChannel;
class StreamControlRequest;

// A receiver is a message thread that also waits on a socket, so a post sets the thread's wake,
// which it waits on beside the socket. Buffers are filled on the receiver's thread only.
//
// Threads: post(), halted(), streamPaused() and connected() from any
// thread; startAndWait() (which runs startUp) from the thread that created the receiver;
// everything else on the receiver's own thread.
class StreamReceiver : public HLV_THREAD::MsgThread {
public:
    // Queue selector for releaseBuffers: all three queues.
    static constexpr uint32_t ALL_QUEUES = 0xFFFFFFFF;
    // Status bits a released buffer gets added: error and last.
    static constexpr uint32_t RELEASED_STATUS = 12;

    ~StreamReceiver() override;

    // Runs the start-up on the calling thread and, when it succeeded, starts the receiver's
    // thread. A receiver whose start-up failed starts no thread and reports itself halted.
    bool startAndWait();

    void post(HLV_THREAD::Message* message) override;
    std::string messageName(uint32_t id) const override;
    // Handles one message by its identifier (the receiver's own loop calls it for each message).
    void messageHandle(HLV_THREAD::Message* message) override;

    // The frames a download is to bring, first and last, so that the throttle never pauses a
    // camera whose remaining frames all have a lent buffer waiting: nothing would resume it.
    // Takes effect with the next download parser switch-on. Any thread.
    static constexpr uint32_t UNKNOWN_FRAME = DownloadThrottle::UNKNOWN_FRAME;
    void setDownloadRange(uint32_t firstFrame, uint32_t lastFrame);

    // Counts image data as it arrives, for a watcher on another thread that must tell a slow
    // stream from a stopped one. Shared, so the counter outlives a replaced receiver. Set before
    // startAndWait.
    using DataCounter = std::shared_ptr<std::atomic<uint64_t>>;
    void countDataIn(DataCounter counter);
    // Counts the downloads the receiver saw fall silent before their last frame (judged from
    // their pace), for the download's watcher to end. Set before startAndWait.
    void countSilentEnds(DataCounter counter);

    uint32_t cameraAddress() const;
    bool streamPaused() const;
    bool connected() const;

protected:
    // className names the receiver in log lines, rxName its stream ("TCP Stream"). The camera's
    // registers (its stream channel, the pause) are reached through `registers`.
    StreamReceiver(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers, const char* className,
                   const char* rxName);

    // The receiver's own steps, all on its thread.
    // Opens what the receiver reads from; false ends the thread before any message is handled.
    virtual bool startUp() = 0;
    // Waits until a message is queued or the stream has something, and reads the stream until
    // it has nothing more or a message waits.
    virtual void waitAndRead() = 0;
    // Closes what startUp opened; runs once the loop has ended.
    virtual void shutDown() = 0;
    // Stream control commands other than PAUSE_STREAM; returns the message's completion status.
    virtual uint32_t handleControl(const StreamControlRequest& control) = 0;
    // The image in progress is given up because its stream stops (a stop request).
    virtual void abandonImage() = 0;
    // Camera register writes when halting: the stream channel's port is cleared.
    virtual void onHalt();
    // Messages of identifiers the base does not know; by default logged and failed.
    virtual void handleOther(HLV_THREAD::Message& message);

    void setConnected(bool isConnected);
    // The "camera:port" part of log lines; the port is the receiver's local one.
    const char* where() const;
    // The same text, for parts that keep it to log with; it changes with the local port.
    const std::string& whereText() const;
    void setLocalPort(uint16_t port);
    RegisterChannel& registers() const;

    // Completes a message: synchronous ones and ones with somewhere to go are forwarded, the
    // receiver's own or ownerless ones are deleted. Never throws.
    void finish(HLV_THREAD::Message* message, uint32_t status);

    // Buffer queues.
    void addBuffer(HLV_THREAD::Message* message, HxStreamBuffer& stream);
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
    // The camera was just paused or resumed for the host.
    virtual void pauseChanged() {}
    void handleStop(HLV_THREAD::Message* message, HxStreamBuffer& stream);
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
    const char* const className_;
    const char* const rxName_;

private:
    bool runStartUp();
    void run() override;
    void serve();
    void drainQueue();
    void dispatch(HLV_THREAD::Message* message);
    void handleHaltMessage(HLV_THREAD::Message* message);
    void handleStreamMessage(HLV_THREAD::Message* message);
    void handleControlMessage(HLV_THREAD::Message* message);
    void endThread();
    void answerRefused(HLV_THREAD::Message* message) override;
    void reportWakeNotSet() override;
    std::deque<HLV_THREAD::Message*>* queueFor(uint32_t kind);
    const std::deque<HLV_THREAD::Message*>* queueFor(uint32_t kind) const;
    void forgetActive();
    void releaseQueue(std::deque<HLV_THREAD::Message*>& queue, const char* label, uint32_t status);
    // Download queue buffers that hold a whole image each cover every frame still to come.
    bool lentBuffersCoverDownload() const;

    const uint32_t cameraAddress_;
    const std::shared_ptr<RegisterChannel> registers_;
    std::string where_;
    DownloadThrottle throttle_;
    std::atomic<bool> connected_{false};
    DataCounter dataIn_;
    DataCounter silentEnds_;
    bool haltHandled_ = false;

    std::deque<HLV_THREAD::Message*> downloadQueue_;
    std::deque<HLV_THREAD::Message*> liveQueue_;
    std::deque<HLV_THREAD::Message*> playbackQueue_;
    std::size_t totalQueuedBufferSpace_ = 0;
    HLV_THREAD::Message* activeMessage_ = nullptr;
    uint32_t activeKind_ = 0;
};
