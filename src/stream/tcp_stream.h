// The TCP image receiver: one connection to a camera, parsed into leader, payload and trailer,
// with the payload received straight into the host's buffers.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "stream/stream_receiver.h"
#include "stream/tcp_connection.h"
#include "stream/tcp_pending_bytes.h"
#include "wire/stream_packet.h"

namespace halvex::stream {

// The connection (its ports, re-opening, the camera's stream channel registers) is a
// TcpConnection; stream bytes read ahead of the parser wait in TcpPendingBytes.
//
// Threads: construction, startAndWait(), post() and destruction from the owner (the camera's
// service thread); isRecovering() and port() from any thread; parsing on the receiver's thread only.
class TcpStream : public StreamReceiver {
public:
    // Parser states, as the log lines number them.
    enum State : uint32_t { LEADER = 0, PAYLOAD = 1, TRAILER = 2, RECOVER = 3, SCAN = 4 };
    // The packet size the camera is asked for and told to the host: 9000 with do-not-fragment.
    static constexpr uint32_t PACKET_SIZE = TcpConnection::PACKET_SIZE;

    TcpStream(uint32_t cameraAddress, std::shared_ptr<control::RegisterChannel> registers, uint16_t port,
              uint16_t cameraPort = wire::kTcpStreamPort);
    ~TcpStream() override;

    // True while the parser looks for its footing (RECOVER); the stream is idle then.
    bool isRecovering() const;
    // The local port the connection uses (0 before it is connected).
    uint16_t port() const;

protected:
    using ReadResult = TcpConnection::ReadResult;
    // Parses what the connection has for now.
    void readStream();
    // Takes up to `want` bytes from the connection without blocking; the parser reads the stream
    // through it alone.
    virtual ReadResult receive(uint8_t* into, std::size_t want, std::size_t& got);

private:
    uint32_t handleControl(const callback::StreamControlRequest& control) override;
    void abandonImage() override;
    bool startUp() override;
    // Stream bytes already taken from the socket (kept back by the scan) wake nothing, so they are
    // read before any wait.
    void waitAndRead() override;
    void shutDown() override;
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
    // The connection is gone: what was read of it is void, and an image in progress is given up.
    void forgetConnection();
    // The leader's checks; the image length, or 0 when the leader is refused.
    uint32_t checkLeader(std::span<const uint8_t> bytes);
    void logLeaderFault(wire::LeaderCheck check, const wire::StreamLeader& leader);
    uint32_t checkTrailer();
    // Reads more of the fixed-size piece (leader or trailer) being collected; a closed
    // connection logs closedText and goes to the reconnect.
    enum class PieceRead { NoData, Partial, Whole };
    PieceRead readPiece(std::span<uint8_t> piece, const char* who, const char* closedText);
    void startImage(uint32_t imageLength);
    void nextBufferOrNone();
    void announcePacketSize();
    // Takes up to `want` stream bytes: first those kept back by the scan, then the socket's.
    ReadResult readBytes(uint8_t* into, std::size_t want, std::size_t& got);

    TcpConnection connection_;
    TcpPendingBytes pending_;
    std::atomic<uint32_t> state_{RECOVER};
    bool discardPackets_ = false;
    uint16_t blockId_ = 0;
    uint32_t packetId_ = 0;
    std::size_t pieceCount_ = 0;
    uint32_t imageReceived_ = 0;
    std::array<uint8_t, wire::kStreamLeaderSize> leader_{};
    std::array<uint8_t, wire::kStreamTrailerSize> trailer_{};
};

} // namespace halvex::stream
