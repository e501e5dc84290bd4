// The live flow of a register-based family's camera: switching the camera's live stream on and
// off, what the host wants while the camera cannot be reached, and the live buffers.
#pragma once

#include <hlv_thread/log_label.h>

namespace halvex::callback {
class HxStreamBuffer;
} // namespace halvex::callback

namespace halvex::thread {
class Message;
}

namespace halvex::family {

class FamilyReceiverLink;
struct StreamFlowContext;

// Remembers whether the host wants live, so that a camera that restarted or came back is
// switched on again, and a setter that stopped live around its write restarts it only when wanted.
//
// Threads: the camera's service thread, or an API thread, always under FamilyStreaming's flow lock.
class FamilyLiveStream {
    HLV_LOG_CLASS(FamilyLiveStream);

public:
    // `flow` and `link` outlive the flow.
    FamilyLiveStream(StreamFlowContext& flow, FamilyReceiverLink& link);

    // A live buffer, stop request or switch from the host.
    void handleMessage(thread::Message* message, callback::HxStreamBuffer& stream);
    // The camera is away: a live or playback buffer waits in the running receiver, and a live
    // switch is noted for the camera's return, without an exchange with the camera. False (the
    // message stays the caller's) for anything else, or without a running receiver.
    bool holdWhileAway(thread::Message* message);

    // Switches the camera's live stream on. False when the camera did not take the stream's
    // registers.
    bool start();
    void stop();
    // Switches the camera's live stream on again when the host wants it; otherwise the next live
    // start tells the camera again where the stream goes.
    void resume();
    // Live runs and the receiver does not hold the camera back.
    bool running() const;

    // For a setter whose write changes what the camera streams: stops live when it runs (true),
    // and afterwards starts it again unless the host switched it off meanwhile.
    bool stopForSetter();
    void restartAfterSetter();

private:
    void switchLive(bool on);
    // The camera's side of live; the public operations also record whether the host wants it.
    // With restoreDestination (or a destination the camera may have forgotten since) the UDP
    // stream's destination is written first.
    bool startCamera(bool restoreDestination = false);
    void stopCamera();

    StreamFlowContext& flow_;
    FamilyReceiverLink& link_;
    bool wanted_ = false;
    // The camera may have restarted since it was last told where its UDP stream goes.
    bool destinationForgotten_ = false;
};

} // namespace halvex::family
