// How the stream flows reach the camera's receiver: making it (waiting for its packet-size
// negotiation), handing it stream messages, and ending the messages that need no receiver.
#pragma once

#include <cstdint>

#include <hlv_thread/log_label.h>

namespace halvex::callback {
class HxStreamBuffer;
} // namespace halvex::callback

namespace halvex::thread {
class Message;
}

namespace halvex::family {

struct StreamFlowContext;

// Threads: the camera's service thread, or an API thread holding the flow lock (FamilyStreaming).
class FamilyReceiverLink {
    HLV_LOG_CLASS(FamilyReceiverLink);

public:
    // The longest the first stream waits for the receiver's packet-size negotiation: two trials of
    // one second each (scaled by the test hook), plus this margin.
    static constexpr uint32_t NEGOTIATION_MARGIN_MILLISECONDS = 500;

    // `flow` outlives the link.
    explicit FamilyReceiverLink(StreamFlowContext& flow);

    // Creates the receiver unless it runs and starts the heartbeat poller for a new one.
    void connect();
    // Hands a buffer or stop request to the receiver, or ends a message that carries neither.
    void passOn(thread::Message* message, const callback::HxStreamBuffer& stream);
    // Switches and requests that carry no buffer end here: the host has nothing to get back.
    static void endHere(thread::Message* message);
    // The camera's channel is there and answers.
    bool channelUsable() const;

private:
    // True once the packet size is known (false after the time limit or without a receiver).
    bool waitForNegotiation();

    StreamFlowContext& flow_;
};

} // namespace halvex::family
