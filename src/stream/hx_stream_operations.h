// A camera's stream session: runs its image receiver, turns the streaming part of the download
// settings into register writes, and starts, stops, pauses and releases streams.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <hx/hx.h>

#include "control/hx_comm_messages.h"
#include "stream/download_stream_settings.h"
#include "stream/stream_receivers.h"

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::thread {
class Message;
class MsgThread;
} // namespace halvex::thread

namespace halvex::stream {

// A plain object owned by the camera-family operations, made of the receiver it runs
// (StreamReceivers) and the download settings' streaming part (DownloadStreamSettings); it keeps
// which parser is switched on, so that a receiver made later takes it up.
//
// Threads: the camera's service thread only, except the throttle, which the receivers read, and
// the stream-paused query.
class HxStreamOperations {
public:
    // The registers the camera family reads the streaming part of the download settings from.
    static constexpr std::array<uint32_t, 7> WATCHED_REGISTERS = DownloadStreamSettings::WATCHED_REGISTERS;
    static constexpr uint32_t DEFAULT_PACKET_DELAY = DownloadStreamSettings::DEFAULT_PACKET_DELAY;

    // The service thread receives filled download buffers before the host does; without one,
    // the camera's registered service thread is looked up when a download buffer arrives. The
    // receivers reach the camera's registers through `registers`.
    HxStreamOperations(uint32_t cameraAddress, std::shared_ptr<control::RegisterChannel> registers,
                       thread::MsgThread* serviceThread = nullptr);
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
    void handleMessage(thread::Message* message);

    // Validates the streaming fields of the download settings (refusals marked HX_FLAG_ERR in
    // the record and logged), appends their register writes and sets the throttle.
    void setSettings(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes);
    // The settings' register reads and what was applied last.
    const DownloadStreamSettings& settings() const;
    // Appends where the UDP receiver takes the camera's stream (this host, its port); nothing
    // without one (a TCP receiver connects to the camera itself).
    void appendDestination(wire::RegisterPairs& writes);
    // Enables the download parser, then appends the camera's start writes. The frame range, when
    // known, lets the receiver's throttle tell a host that lent enough buffers from one that did not,
    // and, unless this thread must see every image (`serviceSeesEveryImage`, when it converts them),
    // lets the images before the last go straight back to the host.
    static constexpr uint32_t UNKNOWN_FRAME = 0xFFFFFFFF;
    void startDownload(wire::RegisterPairs& writes, uint32_t firstFrame = UNKNOWN_FRAME,
                       uint32_t lastFrame = UNKNOWN_FRAME, bool serviceSeesEveryImage = true);
    // Appends the camera's stop writes, then disables the download parser.
    void stopDownload(wire::RegisterPairs& writes);
    void startLive();
    void stopLive();
    void startPlayback();
    void stopPlayback();
    void pauseStream(bool pause);
    // Every queued buffer goes back released (status 12) and the parser stops.
    void releaseBuffers();

    // The UDP receiver's negotiated size (0 until negotiated), 9000 over TCP, 0 without receiver.
    uint32_t getStreamPktLen() const;
    // True without a receiver.
    bool streamPaused() const;
    bool hasReceiver() const;
    // A receiver exists and its thread runs (one whose start-up failed is replaced by the next
    // connectStream).
    bool receiverRunning() const;
    // No receiver, or one whose parser is not in an image (TCP recovering, UDP idle).
    bool receiverIdle() const;
    // Counts image data as the camera's receivers take it in (whichever receiver runs); any thread
    // may read it.
    std::shared_ptr<const std::atomic<uint64_t>> dataIn() const;
    // Counts the downloads a receiver saw fall silent before their last frame; any thread.
    std::shared_ptr<const std::atomic<uint64_t>> silentEnds() const;

private:
    void switchParser(const char* who, uint32_t streamKind, bool enable);
    void enableParser(uint32_t streamKind, bool enable);
    void sendParserSwitch(uint32_t streamKind, bool enable);
    // A receiver created after a parser was switched on takes that switch up.
    void restoreParser();
    void postControl(uint32_t command, uint8_t flag);

    const std::string cameraName_;
    StreamReceivers receivers_;
    DownloadStreamSettings settings_;
    // The stream kind whose parser was last switched on and not off since; 0 for none.
    uint32_t parserKind_ = 0;
    // The frames of the download last started, for a receiver made after it started.
    std::pair<uint32_t, uint32_t> downloadRange_{0, 0};
    bool serviceSeesEveryImage_ = true;
};

} // namespace halvex::stream
