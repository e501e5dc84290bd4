// The message thread under a stream receiver: its start-up on the creating thread, its loop of
// queued messages and stream reads, how it ends, and how it completes the messages it handles.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "hlv_thread/msg_thread.h"
#include "stream/receiver_label.h"

namespace halvex::stream {

// A receiver is a message thread that also waits on a socket, so a post sets the thread's wake,
// which it waits on beside the socket. The loop takes every queued message, then lets the
// receiver wait and read until a message is queued again; it ends once a halt was served.
//
// Threads: post(), halted(), connected() and cameraAddress() from any thread; startAndWait()
// (which runs startUp) from the thread that created the receiver; everything else on the
// receiver's own thread.
class ReceiverThread : public thread::MsgThread {
public:
    // Runs the start-up on the calling thread and, when it succeeded, starts the receiver's
    // thread. A receiver whose start-up failed starts no thread and reports itself halted.
    bool startAndWait();

    void post(thread::Message* message) override;
    std::string messageName(uint32_t id) const override;

    uint32_t cameraAddress() const;
    bool connected() const;

protected:
    ReceiverThread(uint32_t cameraAddress, const char* className, const char* rxName);

    // The receiver's own steps, all on its thread.
    // Opens what the receiver reads from; false ends the thread before any message is handled.
    virtual bool startUp() = 0;
    // Waits until a message is queued or the stream has something, and reads the stream until
    // it has nothing more or a message waits.
    virtual void waitAndRead() = 0;
    // Closes what startUp opened; runs once the loop has ended.
    virtual void shutDown() = 0;
    // The loop has ended and the thread is marked halted: what the receiver still holds goes
    // back, and messages that were not handled are answered.
    virtual void closeQueues() = 0;

    // The halt has been served: the loop ends after the messages already taken.
    void stopServing();
    void setConnected(bool isConnected);
    const ReceiverLabel& label() const;
    // The "camera:port" part of log lines; the port is the receiver's local one.
    const char* where() const;
    void setLocalPort(uint16_t port);

    // Completes a message: synchronous ones and ones with somewhere to go are forwarded, the
    // receiver's own or ownerless ones are deleted. Never throws.
    void finish(thread::Message* message, uint32_t status);

private:
    bool runStartUp();
    void run() override;
    void serve();
    void drainQueue();
    void dispatch(thread::Message* message);
    void endThread();
    void reportWakeNotSet() override;

    ReceiverLabel label_;
    std::atomic<bool> connected_{false};
    bool haltHandled_ = false;
};

} // namespace halvex::stream
