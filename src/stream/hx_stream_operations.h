// A camera's stream session: chooses and runs its image receiver, turns the streaming part of
// the download settings into register writes, and starts, stops, pauses and releases streams.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <hx/hx.h>

#include "control/hx_comm_messages.h"
#include "registers/register_cache.h"

class RegisterChannel;
class TcpStream;
class UdpStream;
class StreamReceiver;
namespace HLV_THREAD {
class Message;
class MsgThread;
} // namespace HLV_THREAD

// A plain object owned by the camera-family operations. Threads: the camera's service thread
// only, except the throttle, which the receivers read, and the stream-paused query.
class HxStreamOperations {
public:
    // The registers the camera family reads the streaming part of the download settings from.
    static constexpr std::array<uint32_t, 7> WATCHED_REGISTERS = {0xD314, 0xE924, 0xE928, 0xE918,
                                                                  0x0D04, 0x0D08, 0xC0AC};
    static constexpr uint32_t DEFAULT_PACKET_DELAY = 200;
    // What getStreamPktLen reports for a TCP receiver.
    static constexpr uint32_t TCP_PACKET_SIZE = 9000;

    // The service thread receives filled download buffers before the host does; without one,
    // the camera's registered service thread is looked up when a download buffer arrives. The
    // receivers reach the camera's registers through `registers`.
    HxStreamOperations(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                       HLV_THREAD::MsgThread* serviceThread = nullptr);
    ~HxStreamOperations();
    HxStreamOperations(const HxStreamOperations&) = delete;
    HxStreamOperations& operator=(const HxStreamOperations&) = delete;

    // Starts the receiver: UDP (with packet-size negotiation) for the first camera family, TCP
    // for all others. Throws RuntimeError when the camera's channel or the receiver is missing.
    void connectStream(bool isTarrow);
    // Halts and destroys the receivers; their queued buffers go back released.
    void disconnectStream();
    // Hands a host buffer or a stop request to the receiver, which then owns the message. A
    // message that carries neither stays the caller's.
    void handleMessage(HLV_THREAD::Message* message);

    // Validates the streaming fields of the download settings (refusals marked HX_FLAG_ERR in
    // the record and logged), appends their register writes and sets the throttle.
    void setSettings(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes);
    // Appends where the UDP receiver takes the camera's stream (this host, its port); nothing
    // without one (a TCP receiver connects to the camera itself).
    void appendDestination(HX_WIRE::RegisterPairs& writes) const;
    // Enables the download parser, then appends the camera's start writes. The frame range, when
    // known, lets the receiver's throttle tell a host that lent enough buffers from one that did not.
    static constexpr uint32_t UNKNOWN_FRAME = 0xFFFFFFFF;
    void startDownload(HX_WIRE::RegisterPairs& writes, uint32_t firstFrame = UNKNOWN_FRAME,
                       uint32_t lastFrame = UNKNOWN_FRAME);
    // Appends the camera's stop writes, then disables the download parser.
    void stopDownload(HX_WIRE::RegisterPairs& writes);
    void startLive();
    void stopLive();
    void startPlayback();
    void stopPlayback();
    void pauseStream(bool pause);
    // Every queued buffer goes back released (status 12) and the parser stops.
    void releaseBuffers();

    uint32_t getPacketDelay(const RegisterCache& registers) const;
    uint32_t getPacketLen(const RegisterCache& registers) const;
    uint32_t getStart(const RegisterCache& registers) const;
    uint32_t getStop(const RegisterCache& registers) const;
    // The UDP receiver's negotiated size (0 until negotiated), 9000 over TCP, 0 without receiver.
    uint32_t getStreamPktLen() const;
    void getThrottleParams(uint32_t& pauseCount, uint32_t& resumeCount) const;
    // True without a receiver.
    bool streamPaused() const;
    bool hasReceiver() const;
    // A receiver exists and its thread runs (one whose start-up failed is replaced by the next
    // connectStream).
    bool receiverRunning() const;
    // No receiver, or one whose parser is not in an image (TCP recovering, UDP idle).
    bool receiverIdle() const;
    // Download settings were applied and no download has started since.
    bool settingsApplied() const;
    // The last valid turbo packet length of the download settings; 0 until one was given.
    uint32_t streamPacketLength() const;
    uint32_t cameraAddress() const;
    // Counts image data as the camera's receivers take it in (whichever receiver runs); any thread
    // may read it.
    std::shared_ptr<const std::atomic<uint64_t>> dataIn() const;
    // Counts the downloads a receiver saw fall silent before their last frame; any thread.
    std::shared_ptr<const std::atomic<uint64_t>> silentEnds() const;

private:
    void connectUdp();
    void connectTcp();
    StreamReceiver* receiver() const;
    void switchParser(const char* who, uint32_t streamKind, bool enable);
    void enableParser(uint32_t streamKind, bool enable);
    void sendParserSwitch(uint32_t streamKind, bool enable);
    // A receiver created after a parser was switched on takes that switch up.
    void restoreParser();
    // Halts and destroys a receiver whose thread has ended, so that the next one can be made.
    template <class Receiver>
    void dropHalted(std::unique_ptr<Receiver>& receiver);
    void postControl(uint32_t command, uint8_t flag);
    void appendStreamChannel(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes);
    void appendFrames(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes);
    HLV_THREAD::MsgThread* downloadReturnThread() const;
    uint32_t traced(const char* who, const RegisterCache& registers, uint32_t address, uint32_t fallback) const;

    const uint32_t cameraAddress_;
    const std::shared_ptr<RegisterChannel> registers_;
    const std::string cameraName_;
    HLV_THREAD::MsgThread* const serviceThread_;
    uint32_t streamPacketLength_ = 0;
    bool settingsApplied_ = false;
    // The stream kind whose parser was last switched on and not off since; 0 for none.
    uint32_t parserKind_ = 0;
    // The frames of the download last started, for a receiver made after it started.
    std::pair<uint32_t, uint32_t> downloadRange_{0, 0};
    const std::shared_ptr<std::atomic<uint64_t>> dataIn_ = std::make_shared<std::atomic<uint64_t>>(0);
    const std::shared_ptr<std::atomic<uint64_t>> silentEnds_ = std::make_shared<std::atomic<uint64_t>>(0);
    std::unique_ptr<UdpStream> udp_;
    std::unique_ptr<TcpStream> tcp_;
};
