// A camera's stream session: runs its image receiver, turns the streaming part of the download
// settings into register writes, and starts, stops, pauses and releases streams.
#include "stream/hx_stream_operations.h"

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"
#include "platform/ipv4_endpoint.h"
#include "registers/register_map.h"
#include "stream/stream_receiver.h"

namespace halvex::stream {

using callback::StreamControl;
using callback::StreamControlRequest;
using control::RegisterChannel;

using thread::TRACE_STREAM;
namespace ids = message_ids;
namespace regs = registers;

namespace {

constexpr uint32_t DOWNLOAD_HEARTBEAT_TIMEOUT = 1000000;
constexpr uint32_t NORMAL_HEARTBEAT_TIMEOUT = 10000;

} // namespace

HxStreamOperations::HxStreamOperations(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                                       thread::MsgThread* serviceThread)
    : cameraName_(platform::ipv4ToText(cameraAddress)),
      receivers_(cameraAddress, std::move(registers), cameraName_, serviceThread), settings_(cameraName_)
{
}

HxStreamOperations::~HxStreamOperations()
{
    disconnectStream();
    HLV_TRACE(TRACE_STREAM, "%s: done.", "HxStreamOperations::~HxStreamOperations");
}

void HxStreamOperations::connectStream(bool isTarrow)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): is_tarrow=%d", "HxStreamOperations::connectStream", cameraName_.c_str(),
              isTarrow ? 1 : 0);
    if (receivers_.connect(isTarrow))
        restoreParser();
}

// A download, playback or live stream may be switched on before any buffer made the receiver; the
// new receiver must parse what the camera was told to send, and know a download's frames.
void HxStreamOperations::restoreParser()
{
    if (parserKind_ == 0 || !receiverRunning())
        return;
    if (parserKind_ == ids::DOWNLOAD_STREAM_MSG)
        receivers_.current()->setDownloadRange(downloadRange_.first, downloadRange_.second, serviceSeesEveryImage_);
    sendParserSwitch(parserKind_, true);
}

void HxStreamOperations::disconnectStream()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::disconnectStream", cameraName_.c_str());
    receivers_.disconnect();
}

void HxStreamOperations::handleMessage(thread::Message* message)
{
    receivers_.handleMessage(message);
}

void HxStreamOperations::setSettings(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes)
{
    settings_.apply(settings, writes, receivers_);
}

const DownloadStreamSettings& HxStreamOperations::settings() const
{
    return settings_;
}

void HxStreamOperations::appendDestination(wire::RegisterPairs& writes)
{
    receivers_.appendDestination(writes);
}

void HxStreamOperations::startDownload(wire::RegisterPairs& writes, uint32_t firstFrame, uint32_t lastFrame,
                                       bool serviceSeesEveryImage)
{
    downloadRange_ = {firstFrame, lastFrame};
    serviceSeesEveryImage_ = serviceSeesEveryImage;
    if (StreamReceiver* target = receivers_.current())
        target->setDownloadRange(firstFrame, lastFrame, serviceSeesEveryImage);
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::startDownload", cameraName_.c_str());
    enableParser(ids::DOWNLOAD_STREAM_MSG, true);
    writes.push_back({regs::GIGE_REG_HEARTBEAT_TIMEOUT, DOWNLOAD_HEARTBEAT_TIMEOUT});
    writes.push_back({regs::GIGE_REG_STREAM_CONTROL, regs::STREAM_CONTROL_DOWNLOAD});
    settings_.downloadStarted();
}

void HxStreamOperations::stopDownload(wire::RegisterPairs& writes)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::stopDownload", cameraName_.c_str());
    writes.push_back({regs::GIGE_REG_STREAM_CONTROL, regs::STREAM_CONTROL_STOP});
    writes.push_back({regs::GIGE_REG_HEARTBEAT_TIMEOUT, NORMAL_HEARTBEAT_TIMEOUT});
    enableParser(ids::DOWNLOAD_STREAM_MSG, false);
    HLV_TRACE(TRACE_STREAM, "%s: done", "HxStreamOperations::stopDownload");
}

void HxStreamOperations::startLive()
{
    switchParser("HxStreamOperations::startLive", ids::LIVE_STREAM_MSG, true);
}

void HxStreamOperations::stopLive()
{
    switchParser("HxStreamOperations::stopLive", ids::LIVE_STREAM_MSG, false);
}

void HxStreamOperations::startPlayback()
{
    switchParser("HxStreamOperations::startPlayback", ids::PLAYBACK_STREAM_MSG, true);
}

void HxStreamOperations::stopPlayback()
{
    switchParser("HxStreamOperations::stopPlayback", ids::PLAYBACK_STREAM_MSG, false);
}

// A live or playback switch: the camera's side is written by the caller.
void HxStreamOperations::switchParser(const char* who, uint32_t streamKind, bool enable)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", who, cameraName_.c_str());
    enableParser(streamKind, enable);
    if (!enable)
        HLV_TRACE(TRACE_STREAM, "%s: done", who);
}

// Waits until the receiver has switched its parser; a halted receiver answers at once.
void HxStreamOperations::enableParser(uint32_t streamKind, bool enable)
{
    if (enable)
        parserKind_ = streamKind;
    else if (parserKind_ == streamKind)
        parserKind_ = 0;
    sendParserSwitch(streamKind, enable);
}

void HxStreamOperations::sendParserSwitch(uint32_t streamKind, bool enable)
{
    StreamReceiver* target = receivers_.current();
    if (target == nullptr)
        return;
    StreamControl<thread::SyncMessage> control(StreamControlRequest::ENABLE_PARSER, enable ? 1 : 0, streamKind);
    control.send(target);
}

void HxStreamOperations::pauseStream(bool pause)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d", "HxStreamOperations::pauseStream", cameraName_.c_str(), pause ? 1 : 0);
    postControl(StreamControlRequest::PAUSE_STREAM, pause ? 0 : 1);
}

void HxStreamOperations::releaseBuffers()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::releaseBuffers", cameraName_.c_str());
    postControl(StreamControlRequest::SHUTDOWN, 1);
}

// Owned by the receiver, which deletes it once handled.
void HxStreamOperations::postControl(uint32_t command, uint8_t flag)
{
    StreamReceiver* target = receivers_.current();
    if (target == nullptr) {
        HLV_LOG("%s: No stream thread available?!", command == StreamControlRequest::PAUSE_STREAM
                                                        ? "HxStreamOperations::pauseStream"
                                                        : "HxStreamOperations::releaseBuffers");
        return;
    }
    auto* control = new StreamControl<thread::Message>(command, flag);
    control->owner = target;
    target->post(control);
}

uint32_t HxStreamOperations::getStreamPktLen() const
{
    const uint32_t length = receivers_.packetSize();
    HLV_TRACE(TRACE_STREAM, "%s(%s): %d", "HxStreamOperations::getStreamPktLen", cameraName_.c_str(),
              static_cast<int>(length));
    return length;
}

bool HxStreamOperations::streamPaused() const
{
    return receivers_.paused();
}

bool HxStreamOperations::hasReceiver() const
{
    return receivers_.current() != nullptr;
}

bool HxStreamOperations::receiverRunning() const
{
    return receivers_.running();
}

bool HxStreamOperations::receiverIdle() const
{
    return receivers_.idle();
}

std::shared_ptr<const std::atomic<uint64_t>> HxStreamOperations::dataIn() const
{
    return receivers_.dataIn();
}

std::shared_ptr<const std::atomic<uint64_t>> HxStreamOperations::silentEnds() const
{
    return receivers_.silentEnds();
}

} // namespace halvex::stream
