// The UDP receiver's message that hands it the stream socket of the camera's new control channel.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "common/message_id_ranges.h"
#include "hlv_thread/message.h"

namespace halvex::control {
class HxComm;
} // namespace halvex::control

namespace halvex::stream::udp {

// For UdpStream only: a camera given up and found again has a new control channel, with a stream
// socket of its own, and the camera is told to stream there. The receiver's owner posts this to it
// (StreamReceivers), and the receiver, on its own thread, reads the new socket from then on and lets
// the old channel (and its sockets) go.
class ChannelHandover : public thread::Message {
public:
    static constexpr uint32_t ID = message_ids::INTERNAL_START + 1;

    explicit ChannelHandover(std::shared_ptr<control::HxComm> newChannel) : channel(std::move(newChannel)) { req = ID; }

    std::shared_ptr<control::HxComm> channel;
};

} // namespace halvex::stream::udp
