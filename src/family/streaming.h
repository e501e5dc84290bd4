// Family stream flows: the live, playback and download sessions of a register-based family's
// camera (over UDP, or TCP where the family's traits say so), driven from its service thread.
#pragma once

#include <cstdint>
#include <mutex>

#include <hlv_thread/log_label.h>

#include "family/family_download_flow.h"
#include "family/family_live_stream.h"
#include "family/family_receiver_link.h"
#include "family/stream_flow_context.h"

namespace halvex::callback {
class HxStreamBuffer;
} // namespace halvex::callback

namespace halvex::stream {
class HxStreamOperations;
} // namespace halvex::stream

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::thread {
class Message;
}

namespace halvex::family {

// Decides, per stream kind, which camera registers are written and when the camera's receiver is
// created, switched or stopped; the receiver side is the camera's HxStreamOperations. Every stream
// buffer message of the camera passes through handleStreaming twice at most: in-bound from the
// API, and (downloads only) out-bound once the receiver has filled or released the buffer. The
// flows are parts: the live flow (FamilyLiveStream), the download flow (FamilyDownloadFlow) and
// the way both reach the receiver (FamilyReceiverLink); playback buffers only queue.
//
// Threads: the flows run on the camera's service thread; a setter on an API thread may stop and
// restart live around its write (LiveStreamPause). One lock serialises the two, and is held only
// by these operations, never around a call into the family's setters. Construction and
// destruction on the owner's thread, once nothing else uses the object.
class FamilyStreaming {
    HLV_LOG_CLASS(FamilyStreaming);

public:
    using Hooks = StreamFlowHooks;

    // The download format register value that asks for packed output.
    static constexpr uint32_t PACKED_DOWNLOAD_FORMAT = FamilyDownloadFlow::PACKED_DOWNLOAD_FORMAT;
    // The longest the first stream waits for the receiver's packet-size negotiation: two trials of
    // one second each (scaled by the test hook), plus this margin.
    static constexpr uint32_t NEGOTIATION_MARGIN_MILLISECONDS = FamilyReceiverLink::NEGOTIATION_MARGIN_MILLISECONDS;

    // The channel and the stream operations belong to the family object and outlive this one.
    FamilyStreaming(uint32_t cameraAddress, control::RegisterChannel& channel,
                    stream::HxStreamOperations& streamOperations, Hooks hooks);
    ~FamilyStreaming();
    FamilyStreaming(const FamilyStreaming&) = delete;
    FamilyStreaming& operator=(const FamilyStreaming&) = delete;

    // Stops a running live stream for its lifetime and starts it again however the scope is left,
    // for a setter whose write changes what the camera streams.
    class LiveStreamPause {
    public:
        explicit LiveStreamPause(FamilyStreaming& streaming);
        ~LiveStreamPause();
        LiveStreamPause(const LiveStreamPause&) = delete;
        LiveStreamPause& operator=(const LiveStreamPause&) = delete;
        bool stopped() const { return stopped_; }

    private:
        FamilyStreaming& streaming_;
        bool stopped_ = false;
    };

    // Takes a stream buffer message over: it is forwarded, handed to the receiver or ended here.
    // Throws (and leaves the message to the caller) only for a message that is not a stream
    // buffer message or when the receiver cannot be created.
    void handleStreaming(thread::Message* message);
    // The camera is away: a live or playback buffer waits in the running receiver, and a live
    // switch is noted for the camera's return, without an exchange with the camera. False (the
    // message stays the caller's) for anything else, or without a running receiver.
    bool holdWhileAway(thread::Message* message);

    // Creates the receiver unless it exists and starts the heartbeat poller for a new one.
    void connectStream();
    void disconnectStream();
    // The camera is being closed: stops a download or live stream it runs. 0 when the camera's
    // control channel is gone, 1 otherwise.
    uint32_t streamShutdown();

    // Switches the camera's live stream on (also reached through the live command). False when the
    // camera did not take the stream's registers.
    bool startLiveStream();
    void stopLiveStream();
    // Switches the camera's live stream on again when the host wants it (the camera stops it
    // when it restarts or its heartbeat runs out while it cannot be reached); otherwise the next
    // live start tells the camera again where the stream goes.
    void resumeLiveStream();
    // Starts the download the applied download settings describe; false (and a log line) when
    // the camera holds no recording to download or the camera refused the start.
    bool kickOffDownload();
    // Ends the download on the camera and restores heartbeat and discovery; the write's result.
    uint32_t stopDownload();

    // Live runs and the receiver does not hold the camera back.
    bool liveRunning() const;

private:
    void inBound(thread::Message* message, callback::HxStreamBuffer& stream);
    void outBound(thread::Message* message);
    void handlePlaybackStreamMsg(thread::Message* message, callback::HxStreamBuffer& stream);

    // Recursive because the stream messages handled under it run the public flow operations
    // (start and stop of live and download), which take it themselves when called on their own.
    mutable std::recursive_mutex flowLock_;
    StreamFlowContext flow_;
    FamilyReceiverLink link_;
    FamilyLiveStream live_;
    FamilyDownloadFlow download_;
};

} // namespace halvex::family
