// The UDP image receiver's packet-size negotiation: trials of a jumbo and then a standard packet,
// each asking the camera for a test packet and bounded by its own timer; the size that arrived
// is kept for the streams and told to the host.
#include <chrono>
#include <memory>
#include <new>

#include "callback/callback.h"
#include "control/hx_comm.h"
#include "control/message_ids.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "platform/ipv4_endpoint.h"
#include "registers/register_map.h"
#include "stream/udp_negotiation.h"
#include "stream/udp_stream.h"
#include "wire/control_packet.h"

using HLV_THREAD::TRACE_STREAM;
namespace ids = HX_MESSAGE_IDS;
namespace wire = HX_WIRE;
namespace regs = HX_REGISTERS;

// Trials run 9000 bytes, then 1500, each bounded by its timer and each size tried twice; a
// datagram that arrives during a trial and is at least the trial's size is its test packet.
void UdpStream::handleNegotiateMsg(const HALVEX_UDP_STREAM::NegotiateMessage* message)
{
    const char* who = "UdpStream::handleNegotiateMsg";
    HLV_TRACE(TRACE_STREAM, "%s(%s): stream_pkt_len=%u", who, where(), streamPacketLength_.load());
    if (message != nullptr && message->timeout != 0) {
        if (state_ != TEST_PACKET || message->packetSize != streamPacketLength_) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): Spurious timeout received [timer: %u, stream_pkt_len: %u]", who, where(),
                      message->packetSize, streamPacketLength_.load());
            return;
        }
        if (trialsOfSize_ < TRIALS_PER_SIZE) {
            HLV_LOG("%s(%s): No test packet of %u bytes came; asking for one again.", who, where(),
                    streamPacketLength_.load());
            stopTimer();
            startTrial(streamPacketLength_);
            return;
        }
        if (streamPacketLength_ == STANDARD_PACKET) {
            HLV_LOG("%s(%s): All packet sizes attempted have failed. Unable to negotiate a streaming packet size!", who,
                    where());
            finishNegotiation(false);
            return;
        }
        streamPacketLength_ = BETWEEN_TRIALS;
    }
    stopTimer();
    const uint32_t length = streamPacketLength_;
    if (length != NOT_NEGOTIATED && length != BETWEEN_TRIALS) {
        finishNegotiation(true);
        return;
    }
    nextTrial();
}

void UdpStream::nextTrial()
{
    trialsOfSize_ = 0;
    startTrial(streamPacketLength_ == BETWEEN_TRIALS ? STANDARD_PACKET : JUMBO_PACKET);
}

void UdpStream::startTrial(uint32_t length)
{
    const char* who = "UdpStream::handleNegotiateMsg";
    ++trialsOfSize_;
    streamPacketLength_ = length;
    HLV_TRACE(TRACE_STREAM, "%s(%s): Try a packet size of %u bytes", who, where(), length);
    const uint32_t camera = cameraAddress();
    registers().writeReg(regs::GIGE_REG_SCDA0, HxComm::localAddressToward(camera));
    registers().writeReg(regs::GIGE_REG_SCP0, localPort());
    registers().writeReg(regs::GIGE_REG_SCPD0, NEGOTIATION_PACKET_DELAY);
    received_ = 0;
    if (!writePacketSize(length | regs::SCPS0_FIRE_TEST_PACKET | regs::SCPS0_DO_NOT_FRAGMENT)) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Failed to write a packet size of %u bytes", who, where(), length);
        bool written = false;
        if (length == JUMBO_PACKET) {
            length = STANDARD_PACKET;
            streamPacketLength_ = length;
            HLV_TRACE(TRACE_STREAM, "%s(%s): Try a packet size of %u bytes", who, where(), length);
            written = writePacketSize(length | regs::SCPS0_FIRE_TEST_PACKET | regs::SCPS0_DO_NOT_FRAGMENT);
        }
        if (!written) {
            // Streams still have to ask the camera for some size: the one every network carries.
            // The host hears it, negative as for a negotiation that failed.
            HLV_LOG("%s(%s): Unable to write the packet size register!", who, where());
            streamPacketLength_ = STANDARD_PACKET;
            finishNegotiation(false);
            return;
        }
    }
    trialPacketSize_ = length;
    trialEnds_ = std::chrono::steady_clock::now() +
                 std::chrono::microseconds(HLV_THREAD::scaledMicroseconds(UdpStream::TRIAL_MICROSECONDS));
}

// A trial's write asks for a test packet (an action, sent once); its caller waits a few round
// trips. Unanswered, it may still have been taken: the trial's test packet, or its time-out,
// decides. Only a refusal, or a channel that is down, is a failure.
bool UdpStream::writePacketSize(uint32_t value)
{
    if ((value & regs::SCPS0_FIRE_TEST_PACKET) == 0)
        return registers().writeReg(regs::GIGE_REG_SCPS0, value) == wire::ControlResult::kSuccess;
    const uint32_t result = registers().writeBriefly({{regs::GIGE_REG_SCPS0, value}});
    return result == wire::ControlResult::kSuccess || result == wire::ControlResult::kBusy;
}

// The parser takes up the state it was asked for meanwhile; the host hears the size, or its
// negative when no size worked.
void UdpStream::finishNegotiation(bool success)
{
    const uint32_t length = streamPacketLength_;
    HLV_TRACE(TRACE_STREAM, "%s(%s): Final negotiated packet size -> %u bytes", "UdpStream::handleNegotiateMsg",
              where(), length);
    stopTimer();
    negotiated_ = true;
    state_ = protocol_ != ids::INTERNAL_START ? LEADER : IDLE;
    writePacketSize(length | regs::SCPS0_DO_NOT_FRAGMENT);
    auto request = std::make_unique<HLV_CALLBACK::CallbackRequest>(HX_STREAM_NEGOTIATION, cameraAddress());
    const auto size = static_cast<int32_t>(length);
    request->attach<int32_t>(success ? size : -size);
    HLV_CALLBACK::Callback::postOwned(std::move(request));
}

void UdpStream::stopTimer()
{
    trialEnds_.reset();
}

std::optional<std::chrono::milliseconds> UdpStream::untilTrialEnds() const
{
    if (!trialEnds_)
        return std::nullopt;
    const auto left = *trialEnds_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

void UdpStream::endTrialWhenDue()
{
    if (!trialEnds_ || std::chrono::steady_clock::now() < *trialEnds_)
        return;
    trialEnds_.reset();
    auto* message = new (std::nothrow) HALVEX_UDP_STREAM::NegotiateMessage(true, trialPacketSize_);
    if (message == nullptr)
        HLV_THROW(HLV_THREAD::RuntimeError, "Unable to allocate the negotiate message.");
    HLV_TRACE(TRACE_STREAM, "%s(%s): trial of %u bytes timed out", "NegotiateTimeout::tick",
              HX_PLATFORM::ipv4ToText(cameraAddress()).c_str(), trialPacketSize_);
    message->owner = this;
    post(message);
}

void UdpStream::handleTestPacket(std::span<const uint8_t> datagram)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): (TS_TEST_PACKET_STATE) %zu bytes", "UdpStream::streamReader", where(),
              datagram.size());
    const uint32_t trial = streamPacketLength_;
    if (trial == NOT_NEGOTIATED || trial == BETWEEN_TRIALS || datagram.size() + wire::kIpUdpHeaderSize < trial)
        return;
    handleNegotiateMsg(nullptr);
}
