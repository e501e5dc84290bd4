// The packet-size negotiation's messages and its one-shot trial timer.
#include "stream/udp_negotiation.h"

#include <new>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "platform/ipv4_endpoint.h"
#include "stream/udp_stream.h"

namespace HALVEX_UDP_STREAM {

NegotiateMessage::NegotiateMessage(bool timedOut, uint32_t trialPacketSize)
    : timeout(timedOut ? 1 : 0), packetSize(trialPacketSize)
{
    req = ID;
}

// The trial period goes through the test hook, so tests run trials in milliseconds.
NegotiateTimeout::NegotiateTimeout(uint32_t cameraAddress, uint32_t packetSize, UdpStream* parent)
    : Ticker(HLV_THREAD::scaledMicroseconds(UdpStream::TRIAL_MICROSECONDS)), cameraAddress_(cameraAddress),
      packetSize_(packetSize), parent_(parent)
{
    setOneShot(true);
}

NegotiateTimeout::~NegotiateTimeout()
{
    stopAndJoin();
}

void NegotiateTimeout::tick()
{
    if (parent_ == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "Parent pointer is unexpectedly null!");
    auto* message = new (std::nothrow) NegotiateMessage(true, packetSize_);
    if (message == nullptr)
        HLV_THROW(HLV_THREAD::RuntimeError, "Unable to allocate the negotiate message.");
    HLV_TRACE(HLV_THREAD::TRACE_STREAM, "%s(%s): trial of %u bytes timed out", "NegotiateTimeout::tick",
              HX_PLATFORM::ipv4ToText(cameraAddress_).c_str(), packetSize_);
    message->owner = parent_;
    parent_->post(message);
}

uint32_t NegotiateTimeout::packetSize() const
{
    return packetSize_;
}

} // namespace HALVEX_UDP_STREAM
