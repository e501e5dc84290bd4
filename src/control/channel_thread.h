// A camera's control channel's message thread: opens the channel, waits on its queue and event
// socket, serves halts and purges, hands event datagrams on and drives the age-out ticks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hlv_thread/msg_thread.h"

namespace halvex::platform {
class PollSet;
} // namespace halvex::platform

namespace halvex::control {

class ChannelSockets;
class EventReader;
class ReaderWait;
class RequestExchange;

// Threads: open() on the creating thread before start(); closeOnce() from any thread but this
// one; the rest on the channel's thread, except halted(), markHalted() and wakeForTicks().
class ChannelThread : public thread::MsgThread {
public:
    ChannelThread(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets, ReaderWait& reader,
                  RequestExchange& exchange, EventReader& events);
    ~ChannelThread() override;

    // Sockets, wait sets and the opening datagram; a channel that could not open has failed
    // everything waiting on it.
    bool open();
    // One closer per channel; true once the thread has ended.
    bool closeOnce();
    // However the loop ended (halt, exception, failed start), nobody may wait on this channel
    // any longer.
    void endChannel();
    // The channel takes no more requests.
    void markHalted();
    // Wakes the thread so that it ticks every period again; false when the wake could not be set.
    bool wakeForTicks();
    bool halted() const override;
    void post(thread::Message* message) override;

private:
    void run() override;
    void messageHandle(thread::Message* message) override;
    void ownerMessage(thread::Message* message) override;
    std::string messageName(uint32_t id) const override;
    void reportWakeNotSet() override;
    void answerRefused(thread::Message* message) override;
    bool loopFinished();
    void processLoop();
    void drainQueue();
    void dispatch(thread::Message* message);
    void handleHalt(thread::Message* message);
    void replyFailed(thread::Message* message);

    const uint32_t cameraAddress_;
    const std::string& cameraName_;
    ChannelSockets& sockets_;
    ReaderWait& reader_;
    RequestExchange& exchange_;
    EventReader& events_;
    // The wait set, in the order processLoop reads it: message event, event socket.
    std::unique_ptr<platform::PollSet> pollSet_;
    // Set once the channel stops taking requests (halt handled, or the loop ended); a halted
    // message queue means the same for messages.
    std::atomic<bool> halted_{false};
    std::once_flag closeFlag_;
};

} // namespace halvex::control
