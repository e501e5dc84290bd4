// The live flow of a register-based family's camera: switching the camera's live stream on and
// off, what the host wants while the camera cannot be reached, and the live buffers.
#include "family/family_live_stream.h"

#include <exception>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "control/register_channel.h"
#include "family/confirmed_stream_control.h"
#include "family/family_receiver_link.h"
#include "family/stream_flow_context.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using callback::HxStreamBuffer;
using callback::streamBufferOf;
using control::describeWriteMultiRegFailure;
using wire::RegisterPairs;

using thread::Message;
using thread::TRACE_OPERATIONS;
namespace ids = message_ids;
namespace regs = registers;

namespace {

constexpr uint32_t CAMERA_STATE_IDLE = 1;
constexpr uint32_t STATE_COMMAND_IDLE = 1;
// What the live start asks of the camera beside the packet size.
constexpr uint32_t LIVE_E930 = 50;
constexpr uint32_t LIVE_PACKET_DELAY = 100;
constexpr uint32_t LIVE_DOWNLOAD_FORMAT = 1;

} // namespace

FamilyLiveStream::FamilyLiveStream(StreamFlowContext& flow, FamilyReceiverLink& link) : flow_(flow), link_(link) {}

void FamilyLiveStream::handleMessage(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", HLV_LABEL("handleLiveStreamMsg"), flow_.name.c_str(),
              static_cast<void*>(message));
    if (stream.buffer() != nullptr) {
        link_.passOn(message, stream);
        return;
    }
    if (stream.stop) {
        stop();
        link_.passOn(message, stream);
        return;
    }
    switchLive(stream.enable);
    FamilyReceiverLink::endHere(message);
}

bool FamilyLiveStream::holdWhileAway(Message* message)
{
    HxStreamBuffer* stream =
        message != nullptr && message->status == thread::MESSAGE_PENDING ? streamBufferOf(message) : nullptr;
    if (stream == nullptr || (message->req != ids::LIVE_STREAM_MSG && message->req != ids::PLAYBACK_STREAM_MSG))
        return false;
    if (stream->buffer() != nullptr) {
        if (!flow_.streamOps.receiverRunning())
            return false;
        flow_.streamOps.handleMessage(message);
        return true;
    }
    if (message->req != ids::LIVE_STREAM_MSG)
        return false;
    if (stream->stop || !stream->enable) {
        stop(); // the parser only: the camera cannot be reached
    } else {
        wanted_ = true; // switched on when the camera answers again
    }
    link_.passOn(message, *stream);
    return true;
}

void FamilyLiveStream::switchLive(bool on)
{
    const char* who = HLV_LABEL("handleLiveStreamMsg");
    try {
        if (on) {
            HLV_TRACE(TRACE_OPERATIONS, "%s: Live stream ON.", who);
            start();
        } else {
            HLV_TRACE(TRACE_OPERATIONS, "%s: Live stream OFF.", who);
            stop();
        }
    } catch (const thread::Exception& error) {
        HLV_LOG("Program exception: %s", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("Program exception: %s", error.what());
    }
}

// The partition write and the idle command prepare the camera for live images; a camera that
// refuses them still gets the stream list, whose result decides.
bool FamilyLiveStream::start()
{
    wanted_ = true;
    return startCamera();
}

// A camera that restarted has also forgotten where its stream goes.
void FamilyLiveStream::resume()
{
    if (wanted_)
        startCamera(true);
    else
        destinationForgotten_ = true;
}

void FamilyLiveStream::stop()
{
    wanted_ = false;
    stopCamera();
}

bool FamilyLiveStream::running() const
{
    return flow_.writtenStreamControl == registers::STREAM_CONTROL_LIVE && !flow_.streamOps.streamPaused();
}

bool FamilyLiveStream::stopForSetter()
{
    if (!running())
        return false;
    stopCamera();
    return true;
}

// A host that switched live off meanwhile keeps it off.
void FamilyLiveStream::restartAfterSetter()
{
    if (!wanted_)
        return;
    try {
        startCamera();
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): The live stream did not restart: %s", HLV_LABEL("startLiveStream"), flow_.name.c_str(),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): The live stream did not restart: %s", HLV_LABEL("startLiveStream"), flow_.name.c_str(),
                error.what());
    }
}

bool FamilyLiveStream::startCamera(bool restoreDestination)
{
    const char* who = HLV_LABEL("startLiveStream");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", who, flow_.name.c_str());
    // The live command starts live without a stream message: the receiver may not exist yet.
    link_.connect();
    if (const uint32_t result = flow_.channel.writeReg(regs::GIGE_REG_PARTITION_STATE, 0); result != 0)
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): The camera kept its partition state [%d]", who, flow_.name.c_str(),
                  static_cast<int>(result));
    flow_.streamOps.startLive();
    uint32_t cameraState = 0;
    if (flow_.channel.readReg(regs::GIGE_REG_CAMERA_STATE, cameraState) != 0 || cameraState != CAMERA_STATE_IDLE)
        flow_.channel.writeReg(regs::GIGE_REG_STATE_COMMAND, STATE_COMMAND_IDLE);
    // A negotiation that has not ended in time leaves no size; 0 would stop the camera sending.
    const uint32_t negotiated = flow_.streamOps.getStreamPktLen();
    const uint32_t packetSize = negotiated != 0 ? negotiated : regs::STANDARD_PACKET_SIZE;
    RegisterPairs writes;
    if (restoreDestination || destinationForgotten_)
        flow_.streamOps.appendDestination(writes);
    writes.insert(writes.end(), {{regs::GIGE_REG_DOWNLOAD_E930, LIVE_E930},
                                 {regs::GIGE_REG_SCPS0, packetSize | regs::SCPS0_DO_NOT_FRAGMENT},
                                 {regs::GIGE_REG_SCPD0, LIVE_PACKET_DELAY},
                                 {regs::GIGE_REG_DOWNLOAD_C294, LIVE_DOWNLOAD_FORMAT},
                                 {regs::GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_LIVE}});
    const uint32_t result =
        writeStreamControlConfirmed(flow_.channel, writes, registers::STREAM_CONTROL_LIVE, flow_.name);
    if (result != 0) {
        HLV_LOG("%s(%s): The camera did not take the live start [%d]", who, flow_.name.c_str(),
                static_cast<int>(result));
        return false;
    }
    flow_.streamOps.pauseStream(false);
    destinationForgotten_ = false;
    flow_.writtenStreamControl = registers::STREAM_CONTROL_LIVE;
    return true;
}

void FamilyLiveStream::stopCamera()
{
    const char* who = HLV_LABEL("stopLiveStream");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", who, flow_.name.c_str());
    if (link_.channelUsable()) {
        flow_.writtenStreamControl = registers::STREAM_CONTROL_STOP;
        const uint32_t result = writeStreamControlConfirmed(
            flow_.channel, {{regs::GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_STOP}},
            registers::STREAM_CONTROL_STOP, flow_.name);
        if (result != 0) {
            HLV_LOG("%s: %s", who, describeWriteMultiRegFailure(result).c_str());
            return;
        }
    }
    flow_.streamOps.stopLive();
}

} // namespace halvex::family
