// The UDP image receiver: reads the camera's stream socket one datagram at a time into a bounce
// buffer, copies each image's payload into the host's buffers, and negotiates the packet size.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "registers/register_map.h"
#include "stream/leader_sequence.h"
#include "stream/packet_size_negotiation.h"
#include "stream/stream_pace.h"
#include "stream/stream_receiver.h"
#include "stream/udp_receives.h"
#include "stream/udp_stream_socket.h"
#include "wire/stream_packet.h"

namespace halvex::control {
class HxComm;
} // namespace halvex::control

namespace halvex::stream {

namespace udp {
class NegotiateMessage;
} // namespace udp

// The stream socket belongs to the camera's control channel; the receiver keeps the channel
// alive while it reads the socket, and is the socket's only reader. A camera given up and found
// again has a new channel, whose socket the receiver takes up when handed a udp::ChannelHandover.
//
// Threads: construction, startAndWait(), post(), negotiatedPacketSize() and destruction from the
// owner (the camera's service thread); parsing, negotiation, localPort() and the change of socket
// on the receiver's thread (localPort() also before it starts), whose wait ends at a trial's time
// limit at the latest.
class UdpStream : public StreamReceiver {
public:
    enum State : uint32_t { TEST_PACKET = 0, LEADER = 1, PAYLOAD = 2, TRAILER = 3, IDLE = 4 };
    static constexpr std::size_t BOUNCE_BUFFER_SIZE = 18432;
    static constexpr std::size_t MAX_DATAGRAM = 9216;
    // Payload packets received in one call at most, while they go straight to a host buffer.
    static constexpr std::size_t PAYLOAD_BATCH = 16;
    // A buffer with less room than this is handed back before the next packet.
    static constexpr std::size_t MIN_BUFFER_ROOM = 9000;
    static constexpr uint32_t JUMBO_PACKET = PacketSizeNegotiation::JUMBO_PACKET;
    static constexpr uint32_t STANDARD_PACKET = PacketSizeNegotiation::STANDARD_PACKET;
    static constexpr uint32_t TRIAL_MICROSECONDS = PacketSizeNegotiation::TRIAL_MICROSECONDS;

    // `channel` lends its stream socket; the camera's registers are reached through `registers`.
    UdpStream(uint32_t cameraAddress, std::shared_ptr<control::HxComm> channel,
              std::shared_ptr<control::RegisterChannel> registers);
    ~UdpStream() override;

    // The packet size the negotiation settled on (also after it failed: the standard size);
    // 0 while it has not finished.
    uint32_t negotiatedPacketSize() const;
    // The stream socket's local port.
    uint16_t localPort() const;
    uint32_t state() const;

protected:
    // The parser: one datagram as read from the stream socket, on the receiver's thread.
    void handleDatagram(std::span<const uint8_t> datagram);

private:
    // Parsing (udp_stream.cpp).
    uint32_t handleControl(const callback::StreamControlRequest& control) override;
    void abandonImage() override;
    void handleOther(thread::Message& message) override;
    void recvLeader(std::span<const uint8_t> datagram);
    void logLeaderFault(wire::LeaderCheck check, const wire::StreamLeader& leader);
    // False on a framing error, which has then handed the image's buffer back.
    bool recvPayload(std::span<const uint8_t> datagram);
    std::string payloadFault(std::span<const uint8_t> head, std::size_t length);
    void acceptScattered(std::size_t size, std::size_t room);
    void takePayload(std::size_t inPlace, std::span<const uint8_t> rest);
    void advance(std::size_t count);
    void storePayload(std::span<const uint8_t> data);
    void recvTrailer(std::span<const uint8_t> datagram);
    void payloadError(const char* text);
    void handleImageReceived();
    void nextBufferOrNone();
    PacketSizeNegotiation::Hooks negotiationHooks();
    // The download's pace (udp_stream.cpp): datagrams of a running download are timed, and a
    // silence far beyond their pace ends the image in progress and, when the last frame has not
    // come, tells the download's watcher.
    void notePace(bool frameStart);
    void pauseChanged() override;
    bool judgingSilence() const;
    void endWhenSilent();

    // The wait and the drain (udp_stream.cpp).
    bool startUp() override;
    void waitAndRead() override;
    void shutDown() override;
    void readDatagrams();
    // The receives read the socket into the buffers and hand what they read to the parser.
    friend class UdpReceives;

    UdpStreamSocket socket_;
    std::vector<uint8_t> bounce_;
    std::atomic<uint32_t> state_{IDLE};
    PacketSizeNegotiation negotiation_;
    UdpReceives receives_{*this};
    uint16_t blockId_ = 0;
    uint32_t packetId_ = 0;
    uint32_t received_ = 0;
    // The payload of the image's packets so far but its last; 0 until one is known.
    std::size_t payloadPerPacket_ = 0;
    uint32_t imagesWithoutBuffer_ = 0;
    LeaderSequence sequence_;
    StreamPace pace_;
    // The image in progress came with a leader that does not follow the images before it: its
    // buffer goes back in error, never whole.
    bool leaderMisfit_ = false;
};

} // namespace halvex::stream
