// The image receiver of a camera's stream session: which one runs (UDP or TCP), making it and
// replacing one that stopped, handing it host buffers, and what the session asks of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "control/hx_comm_messages.h"

namespace halvex::control {
class HxComm;
class RegisterChannel;
} // namespace halvex::control

namespace halvex::thread {
class Message;
class MsgThread;
} // namespace halvex::thread

namespace halvex::stream {

class StreamReceiver;
class TcpStream;
class UdpStream;

// At most one receiver runs: the UDP one (with packet-size negotiation) for the first camera
// family, the TCP one for all others. The data counters outlive the receivers, so a watcher keeps
// counting across a replaced one.
//
// Threads: the camera's service thread only, except dataIn() and silentEnds(), whose counters
// any thread may read, and paused().
class StreamReceivers {
public:
    // The service thread receives filled download buffers before the host does; without one,
    // the camera's registered service thread is looked up when a download buffer arrives.
    StreamReceivers(uint32_t cameraAddress, std::shared_ptr<control::RegisterChannel> registers,
                    const std::string& cameraName, thread::MsgThread* serviceThread);
    ~StreamReceivers();
    StreamReceivers(const StreamReceivers&) = delete;
    StreamReceivers& operator=(const StreamReceivers&) = delete;

    // Makes the receiver unless it exists; true when a new one was made (which may have failed
    // to start, and then answers every buffer with an error until the next connect replaces it).
    bool connect(bool overUdp);
    // Halts and destroys the receivers; their queued buffers go back released.
    void disconnect();
    // Hands a host buffer or a stop request to the receiver, which then owns the message. A
    // message that carries neither stays the caller's.
    void handleMessage(thread::Message* message);
    // Where the UDP receiver takes the camera's stream (this host, the stream port of the camera's
    // channel, which the receiver reads from then on); nothing without one.
    void appendDestination(wire::RegisterPairs& writes);

    // The running receiver, or null.
    StreamReceiver* current() const;
    const UdpStream* udp() const;
    // The UDP receiver's negotiated size (0 until negotiated), 9000 over TCP, 0 without receiver.
    uint32_t packetSize() const;
    // True without a receiver.
    bool paused() const;
    bool running() const;
    // No receiver, or one whose parser is not in an image (TCP recovering, UDP idle).
    bool idle() const;
    std::shared_ptr<const std::atomic<uint64_t>> dataIn() const;
    std::shared_ptr<const std::atomic<uint64_t>> silentEnds() const;

private:
    bool connectUdp();
    bool connectTcp();
    // Hands the UDP receiver the camera's current control channel when it reads another; returns
    // the stream port of the channel it reads (or is taking up).
    uint16_t followCameraChannel();
    // Starts a new receiver; `kind` names it in the log line of a failed start.
    void start(StreamReceiver& receiver, const char* kind);
    // Halts and destroys a receiver whose thread has ended, so that the next one can be made.
    template <class Receiver>
    void dropHalted(std::unique_ptr<Receiver>& receiver);
    thread::MsgThread* downloadReturnThread() const;

    const uint32_t cameraAddress_;
    const std::shared_ptr<control::RegisterChannel> registers_;
    const std::string& cameraName_;
    thread::MsgThread* const serviceThread_;
    const std::shared_ptr<std::atomic<uint64_t>> dataIn_ = std::make_shared<std::atomic<uint64_t>>(0);
    const std::shared_ptr<std::atomic<uint64_t>> silentEnds_ = std::make_shared<std::atomic<uint64_t>>(0);
    std::unique_ptr<UdpStream> udp_;
    // The control channel whose stream socket the UDP receiver reads, or was last handed.
    std::weak_ptr<control::HxComm> udpChannel_;
    std::unique_ptr<TcpStream> tcp_;
};

} // namespace halvex::stream
