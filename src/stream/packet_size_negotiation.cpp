// Packet-size negotiation for a UDP stream: trials of a jumbo and then a standard packet, each
// asking the camera for a test packet and bounded by its own time limit; the size that arrived is
// kept for the streams and told to the host.
#include "stream/packet_size_negotiation.h"

#include <memory>
#include <utility>

#include "callback/callback.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/period_scale.h"
#include "platform/ipv4_endpoint.h"
#include "wire/control_packet.h"
#include "wire/stream_packet.h"

namespace halvex::stream {

using control::HxComm;
using control::RegisterChannel;

using thread::TRACE_STREAM;
namespace regs = registers;

namespace {

// The log lines name the receiver's step, as they always have.
constexpr const char* WHO = "UdpStream::handleNegotiateMsg";

} // namespace

PacketSizeNegotiation::PacketSizeNegotiation(RegisterChannel& registers, uint32_t cameraAddress,
                                             const std::string& where, Hooks hooks)
    : registers_(registers), cameraAddress_(cameraAddress), where_(where), hooks_(std::move(hooks))
{
}

void PacketSizeNegotiation::begin()
{
    stop();
    packetLength_ = NOT_NEGOTIATED;
    negotiated_ = false;
    handle(std::nullopt, true);
}

void PacketSizeNegotiation::timedOut(uint32_t packetSize, bool testing)
{
    handle(packetSize, testing);
}

void PacketSizeNegotiation::testPacket(std::size_t size)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): (TS_TEST_PACKET_STATE) %zu bytes", "UdpStream::streamReader", where_.c_str(),
              size);
    const uint32_t trial = packetLength_;
    if (trial == NOT_NEGOTIATED || trial == BETWEEN_TRIALS || size + wire::kIpUdpHeaderSize < trial)
        return;
    handle(std::nullopt, true);
}

uint32_t PacketSizeNegotiation::negotiatedSize() const
{
    return negotiated_ ? packetLength_.load() : 0;
}

// Trials run 9000 bytes, then 1500, each bounded by its time limit and each size tried twice; a
// datagram that arrives during a trial and is at least the trial's size is its test packet.
void PacketSizeNegotiation::handle(std::optional<uint32_t> timedOutSize, bool testing)
{
    const char* where = where_.c_str();
    HLV_TRACE(TRACE_STREAM, "%s(%s): stream_pkt_len=%u", WHO, where, packetLength_.load());
    if (timedOutSize) {
        if (!testing || *timedOutSize != packetLength_) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): Spurious timeout received [timer: %u, stream_pkt_len: %u]", WHO, where,
                      *timedOutSize, packetLength_.load());
            return;
        }
        if (trialsOfSize_ < TRIALS_PER_SIZE) {
            HLV_LOG("%s(%s): No test packet of %u bytes came; asking for one again.", WHO, where, packetLength_.load());
            stop();
            startTrial(packetLength_);
            return;
        }
        if (packetLength_ == STANDARD_PACKET) {
            HLV_LOG("%s(%s): All packet sizes attempted have failed. Unable to negotiate a streaming packet size!", WHO,
                    where);
            finish(false);
            return;
        }
        packetLength_ = BETWEEN_TRIALS;
    }
    stop();
    const uint32_t length = packetLength_;
    if (length != NOT_NEGOTIATED && length != BETWEEN_TRIALS) {
        finish(true);
        return;
    }
    nextTrial();
}

void PacketSizeNegotiation::nextTrial()
{
    trialsOfSize_ = 0;
    startTrial(packetLength_ == BETWEEN_TRIALS ? STANDARD_PACKET : JUMBO_PACKET);
}

void PacketSizeNegotiation::startTrial(uint32_t length)
{
    const char* where = where_.c_str();
    ++trialsOfSize_;
    packetLength_ = length;
    HLV_TRACE(TRACE_STREAM, "%s(%s): Try a packet size of %u bytes", WHO, where, length);
    registers_.writeReg(regs::GIGE_REG_SCDA0, HxComm::localAddressToward(cameraAddress_));
    registers_.writeReg(regs::GIGE_REG_SCP0, hooks_.localPort());
    registers_.writeReg(regs::GIGE_REG_SCPD0, NEGOTIATION_PACKET_DELAY);
    hooks_.trialStarts();
    if (!writePacketSize(length | regs::SCPS0_FIRE_TEST_PACKET | regs::SCPS0_DO_NOT_FRAGMENT)) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Failed to write a packet size of %u bytes", WHO, where, length);
        bool written = false;
        if (length == JUMBO_PACKET) {
            length = STANDARD_PACKET;
            packetLength_ = length;
            HLV_TRACE(TRACE_STREAM, "%s(%s): Try a packet size of %u bytes", WHO, where, length);
            written = writePacketSize(length | regs::SCPS0_FIRE_TEST_PACKET | regs::SCPS0_DO_NOT_FRAGMENT);
        }
        if (!written) {
            // Streams still have to ask the camera for some size: the one every network carries.
            // The host hears it, negative as for a negotiation that failed.
            HLV_LOG("%s(%s): Unable to write the packet size register!", WHO, where);
            packetLength_ = STANDARD_PACKET;
            finish(false);
            return;
        }
    }
    trialPacketSize_ = length;
    trialEnds_ =
        std::chrono::steady_clock::now() + std::chrono::microseconds(thread::scaledMicroseconds(TRIAL_MICROSECONDS));
}

// A trial's write asks for a test packet (an action, sent once); its caller waits a few round
// trips. Unanswered, it may still have been taken: the trial's test packet, or its time-out,
// decides. Only a refusal, or a channel that is down, is a failure.
bool PacketSizeNegotiation::writePacketSize(uint32_t value)
{
    if ((value & regs::SCPS0_FIRE_TEST_PACKET) == 0)
        return registers_.writeReg(regs::GIGE_REG_SCPS0, value) == wire::control_result::kSuccess;
    const uint32_t result = registers_.writeBriefly({{regs::GIGE_REG_SCPS0, value}});
    return result == wire::control_result::kSuccess || result == wire::control_result::kBusy;
}

// The parser takes up the state it was asked for meanwhile; the host hears the size, or its
// negative when no size worked.
void PacketSizeNegotiation::finish(bool success)
{
    const uint32_t length = packetLength_;
    HLV_TRACE(TRACE_STREAM, "%s(%s): Final negotiated packet size -> %u bytes", WHO, where_.c_str(), length);
    stop();
    negotiated_ = true;
    hooks_.ended();
    writePacketSize(length | regs::SCPS0_DO_NOT_FRAGMENT);
    auto request = std::make_unique<callback::CallbackRequest>(HX_STREAM_NEGOTIATION, cameraAddress_);
    const auto size = static_cast<int32_t>(length);
    request->attach<int32_t>(success ? size : -size);
    callback::Callback::postOwned(std::move(request));
}

void PacketSizeNegotiation::stop()
{
    trialEnds_.reset();
}

std::optional<std::chrono::milliseconds> PacketSizeNegotiation::untilTrialEnds() const
{
    if (!trialEnds_)
        return std::nullopt;
    const auto left = *trialEnds_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

void PacketSizeNegotiation::endTrialWhenDue()
{
    if (!trialEnds_ || std::chrono::steady_clock::now() < *trialEnds_)
        return;
    trialEnds_.reset();
    HLV_TRACE(TRACE_STREAM, "%s(%s): trial of %u bytes timed out", "NegotiateTimeout::tick",
              platform::ipv4ToText(cameraAddress_).c_str(), trialPacketSize_);
    hooks_.postTimeout(trialPacketSize_);
}

} // namespace halvex::stream
