// The packet-size negotiation's message: a trial's time-out.
#pragma once

#include <cstdint>

#include "common/message_id_ranges.h"
#include "hlv_thread/message.h"

namespace halvex::stream::udp {

// Private to UdpStream ("[HXC_NEGOTIATE_MSG]"): a trial timed out, or (without the time-out flag)
// something else moved the negotiation on. Owned by the UdpStream it is sent to, which posts it to
// itself when a trial's time is up.
class NegotiateMessage : public thread::Message {
public:
    static constexpr uint32_t ID = message_ids::INTERNAL_START;

    NegotiateMessage(bool timedOut, uint32_t trialPacketSize);

    uint32_t word = 0;
    uint8_t timeout;
    // The packet size the trial was armed for.
    uint32_t packetSize;
};

} // namespace halvex::stream::udp
