// The TCP image receiver: one connection to a camera, parsed into leader, payload and trailer,
// with the payload received straight into the host's buffers.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/unique_fd.h"
#include "stream/stream_receiver.h"
#include "wire/stream_packet.h"

namespace HX_PLATFORM {
class PollSet;
}

// The receiver binds its local end to `port` (or the next of ten ports, three apart, that is
// free) and connects to the camera's stream port; the camera learns the local port through its
// stream channel port register, written again whenever a connection is re-opened (a camera that
// restarted has forgotten it, and sends nothing until told). A connection the camera closes is
// re-opened at once; while the camera refuses, it is tried again after a delay that doubles up to
// RECONNECT_MAX_MICROSECONDS. While the camera is not present (lost, or its channel gone) nothing
// is tried, and the connection is re-opened once it answers again.
//
// Threads: construction, startAndWait(), post() and destruction from the owner (the camera's
// service thread); parsing on the receiver's thread only.
class TcpStream : public StreamReceiver {
public:
    // Parser states, as the log lines number them.
    enum State : uint32_t { LEADER = 0, PAYLOAD = 1, TRAILER = 2, RECOVER = 3, SCAN = 4 };
    static constexpr unsigned PORT_ATTEMPTS = 10;
    static constexpr uint16_t PORT_STEP = 3;
    // The packet size the camera is asked for and told to the host: 9000 with do-not-fragment.
    static constexpr uint32_t PACKET_SIZE = 9000;

    // Delays between attempts to re-open a refused connection (scaled with the library's periods).
    static constexpr uint32_t RECONNECT_FIRST_MICROSECONDS = 50000;
    static constexpr uint32_t RECONNECT_MAX_MICROSECONDS = 1000000;
    // Whether the camera is still there to connect to. Without one (the default, and after setting
    // an empty one) a camera is present while it has a control channel that is not faulted.
    using CameraPresence = std::function<bool(uint32_t cameraAddress)>;
    static void setCameraPresence(CameraPresence presence);
    // Told when a camera that is present keeps refusing the connection through the longest delay:
    // its images have stopped for good. Without one (the default, and after setting an empty one)
    // discovery drops the camera, which reports it lost and finds it again on a later reply.
    using LossReport = std::function<void(uint32_t cameraAddress)>;
    static void setLossReport(LossReport report);

    TcpStream(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers, uint16_t port,
              uint16_t cameraPort = HX_WIRE::kTcpStreamPort);
    ~TcpStream() override;

    // True while the parser looks for its footing (RECOVER); the stream is idle then.
    bool isRecovering() const;
    // The local port the connection uses (0 before it is connected).
    uint16_t port() const;

protected:
    enum class ReadResult { Data, Nothing, Closed };
    // Parses what the connection has for now (tcp_stream.cpp).
    void readStream();
    // Takes up to `want` bytes from the connection without blocking (tcp_stream_connection.cpp); the
    // parser reads the stream through it alone.
    virtual ReadResult receive(uint8_t* into, std::size_t want, std::size_t& got);

private:
    static bool cameraPresent(uint32_t cameraAddress);
    static void reportLoss(uint32_t cameraAddress);

    // Parsing (tcp_stream.cpp).
    uint32_t handleControl(const StreamControlRequest& control) override;
    void abandonImage() override;
    bool holdForBuffer();
    bool keptBytesReadable() const;
    // One step of the reader by state; false when the stream has nothing more for now.
    bool readStep();
    bool readLeader();
    bool readPayload();
    bool readTrailer();
    bool recoverScan();
    bool fillScanWindow();
    void goToRecovery();
    // The leader's checks; the image length, or 0 when the leader is refused.
    uint32_t checkLeader(std::span<const uint8_t> bytes);
    void logLeaderFault(HX_WIRE::LeaderCheck check, const HX_WIRE::StreamLeader& leader);
    uint32_t checkTrailer();
    // Reads more of the fixed-size piece (leader or trailer) being collected; a closed
    // connection logs closedText and goes to the reconnect.
    enum class PieceRead { NoData, Partial, Whole };
    PieceRead readPiece(std::span<uint8_t> piece, const char* who, const char* closedText);
    void startImage(uint32_t imageLength);
    void nextBufferOrNone();
    void keepForScan(std::span<const uint8_t> bytes);

    // The connection (tcp_stream_connection.cpp).
    bool startUp() override;
    void waitAndRead() override;
    void shutDown() override;
    bool connectFromFreePort(uint16_t firstPort);
    bool connectOnce(uint16_t localPort, int& error);
    void completeConnect();
    bool retrySocket();
    void connectionLost();
    // Waits for the next attempt to re-open the connection, and makes it when it is due.
    void awaitReconnect();
    void scheduleReconnect(bool refused);
    // Waits on the message queue's wake alone, at most `limit` (no limit without one).
    void waitForWake(std::optional<std::chrono::milliseconds> limit);
    void writeStartRegisters();
    void announcePacketSize();
    // Takes up to `want` stream bytes: first those kept back by the scan, then the socket's.
    ReadResult readBytes(uint8_t* into, std::size_t want, std::size_t& got);

    const uint16_t firstPort_;
    const uint16_t cameraPort_;
    std::atomic<uint16_t> port_{0};
    HX_PLATFORM::UniqueFd socket_;
    std::unique_ptr<HX_PLATFORM::PollSet> pollSet_;
    // The message queue's wake alone: what an image without a buffer waits on.
    std::unique_ptr<HX_PLATFORM::PollSet> wakeOnly_;
    bool connectPending_ = false;
    bool reconnecting_ = false;
    // When the connection is to be re-opened next, and the delay after that; none while connected.
    std::optional<std::chrono::steady_clock::time_point> reconnectAt_;
    std::chrono::microseconds reconnectDelay_{0};
    // The connection brought bytes (the first counts as good): a camera that accepts and closes
    // at once is retried with delays, as one that refuses.
    bool connectionDelivered_ = true;
    // The camera's refusals were logged; the next bytes say that the connection is back.
    bool outageReported_ = false;
    // This outage's refusals have been reported as the camera's loss (LossReport).
    bool lossReported_ = false;
    // The camera's absence has been logged (until it is present again).
    bool awayReported_ = false;

    std::atomic<uint32_t> state_{RECOVER};
    bool discardPackets_ = false;
    uint16_t blockId_ = 0;
    uint32_t packetId_ = 0;
    std::size_t pieceCount_ = 0;
    uint32_t imageReceived_ = 0;
    std::array<uint8_t, HX_WIRE::kStreamLeaderSize> leader_{};
    std::array<uint8_t, HX_WIRE::kStreamTrailerSize> trailer_{};
    // Stream bytes the recovery scan reads at a time; a leader straddling two reads is found in
    // the next one because the last bytes that could start a leader are kept back.
    static constexpr std::size_t SCAN_WINDOW = 64 * 1024;
    static constexpr std::size_t KEPT_FOR_NEXT_SCAN = HX_WIRE::kStreamLeaderSize - 1;
    // Stream bytes read but not parsed yet: the scan's window, and what follows a leader it
    // found. [pendingBegin_, pendingEnd_) of scratch_, allocated once.
    std::vector<uint8_t> scratch_;
    std::size_t pendingBegin_ = 0;
    std::size_t pendingEnd_ = 0;
};
