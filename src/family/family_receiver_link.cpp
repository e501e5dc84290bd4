// How the stream flows reach the camera's receiver: making it (waiting for its packet-size
// negotiation), handing it stream messages, and ending the messages that need no receiver.
#include "family/family_receiver_link.h"

#include <chrono>
#include <thread>

#include "callback/hx_stream.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "family/stream_flow_context.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using callback::HxStreamBuffer;
using control::HxComm;

using thread::Message;
using thread::TRACE_OPERATIONS;
namespace regs = registers;

namespace {

constexpr uint32_t NEGOTIATION_TRIAL_MICROSECONDS = 1000000;
// Two sizes, each tried twice when its test packet does not come.
constexpr uint32_t NEGOTIATION_TRIALS = 4;
constexpr auto NEGOTIATION_POLL = std::chrono::milliseconds(5);

} // namespace

FamilyReceiverLink::FamilyReceiverLink(StreamFlowContext& flow) : flow_(flow) {}

void FamilyReceiverLink::connect()
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("connectStream"), flow_.name.c_str());
    if (flow_.streamOps.receiverRunning())
        return;
    const bool overUdp = !flow_.hooks.streamsOverUdp || flow_.hooks.streamsOverUdp();
    // The negotiation's trials set their own packet delay; download settings applied before the
    // receiver existed chose the pacing, which is given back once the trials are over.
    uint32_t packetDelay = 0;
    const bool delayKnown = overUdp && flow_.channel.readReg(regs::GIGE_REG_SCPD0, packetDelay) == 0;
    flow_.streamOps.connectStream(overUdp);
    if (overUdp && waitForNegotiation() && delayKnown)
        flow_.channel.writeReg(regs::GIGE_REG_SCPD0, packetDelay);
    // Started once per receiver: a download in progress keeps the poller stopped until it ends.
    if (flow_.hooks.startHeartBeat)
        flow_.hooks.startHeartBeat();
}

// A stream started while the receiver still negotiates would have its first datagrams taken for
// the test packet and would tell the camera a packet size of 0, so the first stream waits (bounded
// by the negotiation's own trials) until the size is known.
bool FamilyReceiverLink::waitForNegotiation()
{
    const auto limit = std::chrono::microseconds(NEGOTIATION_TRIALS *
                                                 uint64_t{thread::scaledMicroseconds(NEGOTIATION_TRIAL_MICROSECONDS)}) +
                       std::chrono::milliseconds(NEGOTIATION_MARGIN_MILLISECONDS);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (flow_.streamOps.hasReceiver() && flow_.streamOps.getStreamPktLen() == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            HLV_LOG("%s(%s): The stream packet size is not negotiated yet; streaming goes on without it.",
                    HLV_LABEL("connectStream"), flow_.name.c_str());
            return false;
        }
        std::this_thread::sleep_for(NEGOTIATION_POLL);
    }
    return flow_.streamOps.hasReceiver();
}

void FamilyReceiverLink::passOn(Message* message, const HxStreamBuffer& stream)
{
    if (stream.buffer() == nullptr && !stream.stop) {
        endHere(message);
        return;
    }
    // A stop request of the library's own (no route, no owner) has nowhere to go without a receiver.
    if (!flow_.streamOps.hasReceiver() && message->routeEmpty() && message->owner == nullptr) {
        endHere(message);
        return;
    }
    flow_.streamOps.handleMessage(message);
}

// A synchronous sender is released.
void FamilyReceiverLink::endHere(Message* message)
{
    message->status = thread::MESSAGE_DONE;
    message->clearRoute();
    if (message->synchronous())
        message->forward();
    else
        delete message;
}

bool FamilyReceiverLink::channelUsable() const
{
    return !flow_.channel.faulted() && HxComm::isKnown(flow_.address);
}

} // namespace halvex::family
