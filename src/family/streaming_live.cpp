// Family stream flows: the live and playback sessions, driven from the camera's service thread.
#include "family/streaming.h"

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "control/register_channel.h"
#include "family/confirmed_stream_control.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

using HLV_THREAD::Message;
using HLV_THREAD::TRACE_OPERATIONS;
namespace ids = HX_MESSAGE_IDS;
namespace regs = HX_REGISTERS;

namespace {

constexpr uint32_t CAMERA_STATE_IDLE = 1;
constexpr uint32_t STATE_COMMAND_IDLE = 1;
// What the live start asks of the camera beside the packet size.
constexpr uint32_t LIVE_E930 = 50;
constexpr uint32_t LIVE_PACKET_DELAY = 100;
constexpr uint32_t LIVE_DOWNLOAD_FORMAT = 1;

} // namespace

void FamilyStreaming::handleLiveStreamMsg(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", HLV_LABEL("handleLiveStreamMsg"), name_.c_str(),
              static_cast<void*>(message));
    if (stream.buffer() != nullptr) {
        passToReceiver(message, stream);
        return;
    }
    if (stream.stop) {
        stopLiveStream();
        passToReceiver(message, stream);
        return;
    }
    switchLive(stream.enable);
    endHere(message);
}

bool FamilyStreaming::holdWhileAway(Message* message)
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HxStreamBuffer* stream =
        message != nullptr && message->status == HLV_THREAD::MESSAGE_PENDING ? streamBufferOf(message) : nullptr;
    if (stream == nullptr || (message->req != ids::LIVE_STREAM_MSG && message->req != ids::PLAYBACK_STREAM_MSG))
        return false;
    if (stream->buffer() != nullptr) {
        if (!streamOps_.receiverRunning())
            return false;
        streamOps_.handleMessage(message);
        return true;
    }
    if (message->req != ids::LIVE_STREAM_MSG)
        return false;
    if (stream->stop || !stream->enable) {
        stopLiveStream(); // the parser only: the camera cannot be reached
    } else {
        liveWanted_ = true; // switched on when the camera answers again
    }
    passToReceiver(message, *stream);
    return true;
}

void FamilyStreaming::switchLive(bool on)
{
    const char* who = HLV_LABEL("handleLiveStreamMsg");
    try {
        if (on) {
            HLV_TRACE(TRACE_OPERATIONS, "%s: Live stream ON.", who);
            startLiveStream();
        } else {
            HLV_TRACE(TRACE_OPERATIONS, "%s: Live stream OFF.", who);
            stopLiveStream();
        }
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("Program exception: %s", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("Program exception: %s", error.what());
    }
}

// The partition write and the idle command prepare the camera for live images; a camera that
// refuses them still gets the stream list, whose result decides.
bool FamilyStreaming::startLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    liveWanted_ = true;
    return startCameraLive();
}

// A camera that restarted has also forgotten where its stream goes.
void FamilyStreaming::resumeLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    if (liveWanted_)
        startCameraLive(true);
    else
        destinationForgotten_ = true;
}

void FamilyStreaming::stopLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    liveWanted_ = false;
    stopCameraLive();
}

bool FamilyStreaming::startCameraLive(bool restoreDestination)
{
    const char* who = HLV_LABEL("startLiveStream");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", who, name_.c_str());
    // The live command starts live without a stream message: the receiver may not exist yet.
    connectStream();
    if (const uint32_t result = channel_.writeReg(regs::GIGE_REG_PARTITION_STATE, 0); result != 0)
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): The camera kept its partition state [%d]", who, name_.c_str(),
                  static_cast<int>(result));
    streamOps_.startLive();
    uint32_t cameraState = 0;
    if (channel_.readReg(regs::GIGE_REG_CAMERA_STATE, cameraState) != 0 || cameraState != CAMERA_STATE_IDLE)
        channel_.writeReg(regs::GIGE_REG_STATE_COMMAND, STATE_COMMAND_IDLE);
    // A negotiation that has not ended in time leaves no size; 0 would stop the camera sending.
    const uint32_t negotiated = streamOps_.getStreamPktLen();
    const uint32_t packetSize = negotiated != 0 ? negotiated : regs::STANDARD_PACKET_SIZE;
    RegisterPairs writes;
    if (restoreDestination || destinationForgotten_)
        streamOps_.appendDestination(writes);
    writes.insert(writes.end(), {{regs::GIGE_REG_DOWNLOAD_E930, LIVE_E930},
                                 {regs::GIGE_REG_SCPS0, packetSize | regs::SCPS0_DO_NOT_FRAGMENT},
                                 {regs::GIGE_REG_SCPD0, LIVE_PACKET_DELAY},
                                 {regs::GIGE_REG_DOWNLOAD_C294, LIVE_DOWNLOAD_FORMAT},
                                 {regs::GIGE_REG_STREAM_CONTROL, HX_REGISTERS::STREAM_CONTROL_LIVE}});
    const uint32_t result = writeStreamControlConfirmed(channel_, writes, HX_REGISTERS::STREAM_CONTROL_LIVE, name_);
    if (result != 0) {
        HLV_LOG("%s(%s): The camera did not take the live start [%d]", who, name_.c_str(), static_cast<int>(result));
        return false;
    }
    streamOps_.pauseStream(false);
    destinationForgotten_ = false;
    writtenStreamControl_ = HX_REGISTERS::STREAM_CONTROL_LIVE;
    return true;
}

void FamilyStreaming::stopCameraLive()
{
    const char* who = HLV_LABEL("stopLiveStream");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", who, name_.c_str());
    if (channelUsable()) {
        writtenStreamControl_ = HX_REGISTERS::STREAM_CONTROL_STOP;
        const uint32_t result =
            writeStreamControlConfirmed(channel_, {{regs::GIGE_REG_STREAM_CONTROL, HX_REGISTERS::STREAM_CONTROL_STOP}},
                                        HX_REGISTERS::STREAM_CONTROL_STOP, name_);
        if (result != 0) {
            HLV_LOG("%s: %s", who, describeWriteMultiRegFailure(result).c_str());
            return;
        }
    }
    streamOps_.stopLive();
}

// The camera's playback registers are written by the playback settings; buffers only queue here.
void FamilyStreaming::handlePlaybackStreamMsg(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", HLV_LABEL("handlePlaybackStreamMsg"), name_.c_str(),
              static_cast<void*>(message));
    passToReceiver(message, stream);
}
