// The packet-size negotiation's message: a trial's time-out.
#include "stream/udp_negotiation.h"

namespace halvex::stream::udp {

NegotiateMessage::NegotiateMessage(bool timedOut, uint32_t trialPacketSize)
    : timeout(timedOut ? 1 : 0), packetSize(trialPacketSize)
{
    req = ID;
}

} // namespace halvex::stream::udp
