// The packet-size negotiation's messages and its one-shot trial timer.
#pragma once

#include <cstdint>

#include "control/message_ids.h"
#include "hlv_thread/message.h"
#include "hlv_thread/ticker.h"

class UdpStream;

namespace HALVEX_UDP_STREAM {

// Private to UdpStream ("[HXC_NEGOTIATE_MSG]"): a trial timed out, or (without the time-out flag)
// something else moved the negotiation on. Owned by the UdpStream it is sent to.
class NegotiateMessage : public HLV_THREAD::Message {
public:
    static constexpr uint32_t ID = HX_MESSAGE_IDS::INTERNAL_START;

    NegotiateMessage(bool timedOut, uint32_t trialPacketSize);

    uint32_t word = 0;
    uint8_t timeout;
    // The packet size the timer was armed for.
    uint32_t packetSize;
};

// One trial's time limit: a one-shot ticker whose tick posts a time-out for its packet size to
// the receiver. The receiver owns it and deletes it from its own thread; the tick only posts.
class NegotiateTimeout : public HLV_THREAD::Ticker {
public:
    NegotiateTimeout(uint32_t cameraAddress, uint32_t packetSize, UdpStream* parent);
    ~NegotiateTimeout() override;

    void tick() override;
    uint32_t packetSize() const;

private:
    const uint32_t cameraAddress_;
    const uint32_t packetSize_;
    UdpStream* const parent_;
};

} // namespace HALVEX_UDP_STREAM
