// Family stream flows: the download sessions (over UDP or TCP), and what every flow shares,
// driven from the camera's service thread. The live and playback flows are in streaming_live.cpp.
#include "family/streaming.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "discovery/discovery.h"
#include "family/confirmed_stream_control.h"
#include "family/download_watchdog.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "platform/ipv4_endpoint.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

using HLV_THREAD::Message;
using HLV_THREAD::TRACE_OPERATIONS;
namespace ids = HX_MESSAGE_IDS;
namespace regs = HX_REGISTERS;

namespace {

constexpr uint32_t CAMERA_STATE_REVIEW = 8;
constexpr uint32_t PARTITION_RECORDED = 3;
constexpr uint32_t NEGOTIATION_TRIAL_MICROSECONDS = 1000000;
// Two sizes, each tried twice when its test packet does not come.
constexpr uint32_t NEGOTIATION_TRIALS = 4;
constexpr auto NEGOTIATION_POLL = std::chrono::milliseconds(5);

// Download sessions are numbered across the process: a watchdog's stop may still be queued when
// the camera's operations (and this object) are rebuilt, and must not match the new object's
// first download.
uint64_t nextDownloadSession()
{
    static std::atomic<uint64_t> last{0};
    return ++last;
}

} // namespace

FamilyStreaming::FamilyStreaming(uint32_t cameraAddress, RegisterChannel& channel, HxStreamOperations& streamOperations,
                                 Hooks hooks)
    : address_(cameraAddress), name_(HX_PLATFORM::ipv4ToText(cameraAddress)), channel_(channel),
      streamOps_(streamOperations), hooks_(std::move(hooks))
{
}

// However the object goes, a download must not leave discovery paused for the rest of the process.
FamilyStreaming::~FamilyStreaming()
{
    watchdog_.reset();
    if (discoveryPausedByDownload_)
        resumeDiscovery();
}

// --- Receiver -----------------------------------------------------------------------------------

FamilyStreaming::LiveStreamPause::LiveStreamPause(FamilyStreaming& streaming) : streaming_(streaming)
{
    std::lock_guard<std::recursive_mutex> flow(streaming_.flowLock_);
    if (!streaming_.liveRunning())
        return;
    streaming_.stopCameraLive();
    stopped_ = true;
}

// A host that switched live off meanwhile keeps it off.
FamilyStreaming::LiveStreamPause::~LiveStreamPause()
{
    std::lock_guard<std::recursive_mutex> flow(streaming_.flowLock_);
    if (!stopped_ || !streaming_.liveWanted_)
        return;
    try {
        streaming_.startCameraLive();
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): The live stream did not restart: %s", HLV_LABEL("startLiveStream"), streaming_.name_.c_str(),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): The live stream did not restart: %s", HLV_LABEL("startLiveStream"), streaming_.name_.c_str(),
                error.what());
    }
}

bool FamilyStreaming::liveRunning() const
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return writtenStreamControl_ == HX_REGISTERS::STREAM_CONTROL_LIVE && !streamOps_.streamPaused();
}

void FamilyStreaming::connectStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("connectStream"), name_.c_str());
    if (streamOps_.receiverRunning())
        return;
    const bool overUdp = !hooks_.streamsOverUdp || hooks_.streamsOverUdp();
    // The negotiation's trials set their own packet delay; download settings applied before the
    // receiver existed chose the pacing, which is given back once the trials are over.
    uint32_t packetDelay = 0;
    const bool delayKnown = overUdp && channel_.readReg(regs::GIGE_REG_SCPD0, packetDelay) == 0;
    streamOps_.connectStream(overUdp);
    if (overUdp && waitForNegotiation() && delayKnown)
        channel_.writeReg(regs::GIGE_REG_SCPD0, packetDelay);
    // Started once per receiver: a download in progress keeps the poller stopped until it ends.
    if (hooks_.startHeartBeat)
        hooks_.startHeartBeat();
}

// A stream started while the receiver still negotiates would have its first datagrams taken for
// the test packet and would tell the camera a packet size of 0, so the first stream waits (bounded
// by the negotiation's own trials) until the size is known.
bool FamilyStreaming::waitForNegotiation()
{
    const auto limit =
        std::chrono::microseconds(NEGOTIATION_TRIALS *
                                  uint64_t{HLV_THREAD::scaledMicroseconds(NEGOTIATION_TRIAL_MICROSECONDS)}) +
        std::chrono::milliseconds(NEGOTIATION_MARGIN_MILLISECONDS);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (streamOps_.hasReceiver() && streamOps_.getStreamPktLen() == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            HLV_LOG("%s(%s): The stream packet size is not negotiated yet; streaming goes on without it.",
                    HLV_LABEL("connectStream"), name_.c_str());
            return false;
        }
        std::this_thread::sleep_for(NEGOTIATION_POLL);
    }
    return streamOps_.hasReceiver();
}

void FamilyStreaming::disconnectStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("disconnectStream"), name_.c_str());
    watchdog_.reset();
    downloadRunning_ = false;
    streamOps_.disconnectStream();
}

uint32_t FamilyStreaming::streamShutdown()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("streamShutdown"), name_.c_str());
    if (!HxComm::isKnown(address_))
        return 0;
    if (streamOps_.receiverIdle() && !downloadRunning_)
        return 1;
    if (writtenStreamControl_ == HX_REGISTERS::STREAM_CONTROL_DOWNLOAD)
        stopDownload();
    else if (writtenStreamControl_ == HX_REGISTERS::STREAM_CONTROL_LIVE)
        stopLiveStream();
    return 1;
}

bool FamilyStreaming::channelUsable() const
{
    return !channel_.faulted() && HxComm::isKnown(address_);
}

// --- Messages -----------------------------------------------------------------------------------

void FamilyStreaming::handleStreaming(Message* message)
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("handleStreaming"), name_.c_str());
    if (message == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "%s: Unexpectedly null message!", HLV_LABEL("handleStreaming"));
    if (message->status != HLV_THREAD::MESSAGE_PENDING) {
        outBound(message);
        return;
    }
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "Could not make stream_msg");
    inBound(message, *stream);
}

void FamilyStreaming::inBound(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s: Processing in-bound message (req=%d, %p)", HLV_LABEL("handleStreaming"),
              static_cast<int>(message->req), static_cast<void*>(message));
    if (!stream.stop)
        connectStream();
    switch (message->req) {
    case ids::DOWNLOAD_STREAM_MSG: handleDownloadStreamMsg(message, stream); break;
    case ids::PLAYBACK_STREAM_MSG: handlePlaybackStreamMsg(message, stream); break;
    case ids::LIVE_STREAM_MSG: handleLiveStreamMsg(message, stream); break;
    default:
        HLV_THROW(HLV_THREAD::LogicError, "%s: Unknown stream kind [0x%x]", HLV_LABEL("handleStreaming"), message->req);
    }
}

// Only downloads come back here: the receiver put this thread first on their route.
void FamilyStreaming::outBound(Message* message)
{
    const char* who = HLV_LABEL("handleStreaming");
    HLV_TRACE(TRACE_OPERATIONS, "%s: Processing out-bound message (%p)", who, static_cast<void*>(message));
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "%s: Unexpectedly null _HxStream message!", who);
    if (stream->released) {
        HLV_TRACE(TRACE_OPERATIONS, "%s: Passing on released buffer [%p]", who, static_cast<void*>(message));
    } else if (message->req == ids::DOWNLOAD_STREAM_MSG) {
        HLV_TRACE(TRACE_OPERATIONS, "%s: Passing on filled buffer [%p]", who, static_cast<void*>(message));
        watchdogProgress();
        passOnFilledDownload(*stream);
    }
    message->forward();
}

void FamilyStreaming::passOnFilledDownload(HxStreamBuffer& stream)
{
    if (downloadFormat_ == PACKED_DOWNLOAD_FORMAT) {
        HX_READ_STREAM record = stream.record();
        HX_INTERNAL::convertToPacked(record, packingImage_, name_);
        stream.setResults(record.image_length, record.frame_id, record.status, record.received_length);
    }
    const HX_READ_STREAM& record = stream.record();
    if (!downloadRunning_ || (record.status & HX_STREAM_STATUS_COMPLETE) == 0 || record.frame_id != downloadEndFrame_ ||
        record.received_length == 0)
        return;
    HLV_TRACE(TRACE_OPERATIONS, "Ending the download session shutdown for %s (flags: 0x%x, id: %d/%d, length: %d",
              name_.c_str(), record.status, static_cast<int>(record.frame_id), static_cast<int>(downloadEndFrame_),
              static_cast<int>(record.received_length));
    stopDownload();
    stream.setResults(record.image_length, record.frame_id, record.status | HX_STREAM_STATUS_LAST,
                      record.received_length);
    releaseDownloadBuffers();
}

// A download that has ended keeps no buffers: those lent beyond its end frame go back released,
// so a host may lend more than the range needs (and so never runs the throttle dry at its end).
void FamilyStreaming::releaseDownloadBuffers()
{
    if (!streamOps_.hasReceiver())
        return;
    auto* stop = new (std::nothrow)
        HxStream<Message>(ids::DOWNLOAD_STREAM_MSG, nullptr, CameraServices::find(address_), 0, address_);
    if (stop == nullptr) {
        HLV_LOG("%s(%s): Unable to allocate the stop message.", HLV_LABEL("handleStreaming"), name_.c_str());
        return;
    }
    stop->stop = true;
    streamOps_.handleMessage(stop);
}

void FamilyStreaming::passToReceiver(Message* message, const HxStreamBuffer& stream)
{
    if (stream.buffer() == nullptr && !stream.stop) {
        endHere(message);
        return;
    }
    // A stop request of the library's own (no route, no owner) has nowhere to go without a receiver.
    if (!streamOps_.hasReceiver() && message->routeEmpty() && message->owner == nullptr) {
        endHere(message);
        return;
    }
    streamOps_.handleMessage(message);
}

// Switches and requests that carry no buffer end here: the host has nothing to get back. A
// synchronous sender is released.
void FamilyStreaming::endHere(Message* message)
{
    message->status = HLV_THREAD::MESSAGE_DONE;
    message->clearRoute();
    if (message->synchronous())
        message->forward();
    else
        delete message;
}

// --- Download -----------------------------------------------------------------------------------

void FamilyStreaming::handleDownloadStreamMsg(Message* message, HxStreamBuffer& stream)
{
    const char* who = HLV_LABEL("handleDownloadStreamMsg");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", who, name_.c_str(), static_cast<void*>(message));
    if (stream.stop && staleWatchdogStop(message)) {
        HLV_LOG("%s(%s): The watchdog's stop came after its download ended; ignored.", who, name_.c_str());
        endHere(message);
        return;
    }
    if (stream.stop) {
        passToReceiver(message, stream);
        HLV_TRACE(TRACE_OPERATIONS, "%s: Stop the download", who);
        if (downloadRunning_)
            stopDownload();
        return;
    }
    if (stream.buffer() != nullptr)
        watchdogProgress();
    if (!streamOps_.settingsApplied()) {
        passToReceiver(message, stream);
        return;
    }
    HLV_TRACE(TRACE_OPERATIONS, "%s: Need to start the download", who);
    startDownloadSession(message, stream);
}

// The watchdog's ticker may have posted its stop just as its download ended; by the time the stop
// is handled another download (or live) may run, which it must not touch.
bool FamilyStreaming::staleWatchdogStop(const Message* message) const
{
    const auto* stop = dynamic_cast<const WatchdogStop*>(message);
    return stop != nullptr && (!downloadRunning_ || stop->session != downloadSession_);
}

// The camera's state is checked before the buffer is queued, so a download that cannot start hands
// the buffer straight back marked faulty; once queued, the buffer belongs to the receiver's thread.
// The buffer is queued before the camera is told to send, so the first frame finds it.
void FamilyStreaming::startDownloadSession(Message* message, HxStreamBuffer& stream)
{
    if (hooks_.stopHeartBeat)
        hooks_.stopHeartBeat();
    pauseDiscovery();
    DownloadPlan plan;
    if (!readDownloadPlan(plan) || !downloadPossible(plan)) {
        HLV_LOG("kick_off_download() failed!");
        refuseDownloadStart(message, stream);
        return;
    }
    passToReceiver(message, stream);
    if (!startCameraDownload(plan)) {
        HLV_LOG("kick_off_download() failed!");
        streamOps_.releaseBuffers();
        leaveDownloadMode();
    }
}

void FamilyStreaming::refuseDownloadStart(Message* message, HxStreamBuffer& stream)
{
    if (stream.buffer() != nullptr) {
        const HX_READ_STREAM& record = stream.record();
        stream.setResults(0, 0, record.status | HX_STREAM_STATUS_ERROR, 0);
        message->status = HLV_THREAD::MESSAGE_DONE;
        message->forward();
    } else {
        endHere(message);
    }
    if (streamOps_.hasReceiver())
        streamOps_.releaseBuffers();
    leaveDownloadMode();
}

bool FamilyStreaming::kickOffDownload()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    DownloadPlan plan;
    return readDownloadPlan(plan) && downloadPossible(plan) && startCameraDownload(plan);
}

bool FamilyStreaming::readDownloadPlan(DownloadPlan& plan)
{
    RegisterPairs registers{{regs::GIGE_REG_CAMERA_STATE, 0}, {regs::GIGE_REG_PARTITION_STATE, 0},
                            {regs::GIGE_REG_PB_C140, 0},      {regs::GIGE_REG_DOWNLOAD_START, 0},
                            {regs::GIGE_REG_DOWNLOAD_END, 0}, {regs::GIGE_REG_DOWNLOAD_C294, 0}};
    const uint32_t result = channel_.readMultiReg(registers);
    if (result != 0) {
        HLV_LOG("%s(%s): Unable to read the camera's download state [%d]", HLV_LABEL("kickOffDownload"), name_.c_str(),
                static_cast<int>(result));
        return false;
    }
    plan.cameraState = registers[0].value;
    plan.partitionState = registers[1].value;
    plan.recordedFrames = registers[2].value;
    plan.startFrame = registers[3].value;
    plan.endFrame = registers[4].value;
    plan.format = registers[5].value;
    return true;
}

bool FamilyStreaming::downloadPossible(const DownloadPlan& plan) const
{
    if (plan.cameraState != CAMERA_STATE_REVIEW || plan.partitionState != PARTITION_RECORDED) {
        HLV_LOG("Cannot download (wrong camera/partition state: 0x%08X/0x%08X)", plan.cameraState, plan.partitionState);
        return false;
    }
    if (plan.recordedFrames == 0 || plan.startFrame >= plan.recordedFrames || plan.startFrame > plan.endFrame) {
        HLV_LOG("Cannot download (frames %u to %u of a recording of %u frames)", plan.startFrame, plan.endFrame,
                plan.recordedFrames);
        return false;
    }
    return true;
}

// The end frame is the last one the camera can send: a range reaching past the recording ends
// with the recording.
bool FamilyStreaming::startCameraDownload(const DownloadPlan& plan)
{
    downloadEndFrame_ = std::min(plan.endFrame, plan.recordedFrames - 1);
    downloadFormat_ = plan.format;
    if (downloadFormat_ == PACKED_DOWNLOAD_FORMAT)
        packingImage_ = recordedImage();
    RegisterPairs writes;
    streamOps_.startDownload(writes, plan.startFrame, downloadEndFrame_);
    const uint32_t result = writeStreamControlConfirmed(channel_, writes, HX_REGISTERS::STREAM_CONTROL_DOWNLOAD, name_);
    if (result != 0) {
        HLV_LOG("%s(%s): The camera did not take the download start [%d]", HLV_LABEL("kickOffDownload"), name_.c_str(),
                static_cast<int>(result));
        return false;
    }
    writtenStreamControl_ = HX_REGISTERS::STREAM_CONTROL_DOWNLOAD;
    downloadRunning_ = true;
    // The start runs the camera; a throttle pause left over from an earlier download would keep
    // the receiver from pausing it again when this one's buffers run short.
    if (streamOps_.hasReceiver() && streamOps_.streamPaused())
        streamOps_.pauseStream(false);
    downloadSession_ = nextDownloadSession();
    watchdog().arm(downloadSession_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): frames %u to %u, format %u", HLV_LABEL("kickOffDownload"), name_.c_str(),
              plan.startFrame, downloadEndFrame_, downloadFormat_);
    return true;
}

// Packing needs the frames' size and bit mode; without them it logs and leaves frames as sent.
HX_INTERNAL::PackingImage FamilyStreaming::recordedImage() const
{
    if (!hooks_.packingImage)
        return {};
    try {
        return hooks_.packingImage();
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("kickOffDownload"), name_.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("kickOffDownload"), name_.c_str(), error.what());
    }
    return {};
}

uint32_t FamilyStreaming::stopDownload()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("stopDownload"), name_.c_str());
    RegisterPairs writes;
    streamOps_.stopDownload(writes);
    uint32_t result = 0;
    if (!writes.empty() && channelUsable()) {
        result = writeStreamControlConfirmed(channel_, writes, HX_REGISTERS::STREAM_CONTROL_STOP, name_);
        if (result != 0)
            HLV_LOG("%s: HxComm::writeMultiReg was not successful.", HLV_LABEL("stopDownload"));
    }
    writtenStreamControl_ = HX_REGISTERS::STREAM_CONTROL_STOP;
    leaveDownloadMode();
    return result;
}

void FamilyStreaming::leaveDownloadMode()
{
    downloadRunning_ = false;
    if (watchdog_)
        watchdog_->disarm();
    if (hooks_.startHeartBeat && channelUsable())
        hooks_.startHeartBeat();
    if (discoveryPausedByDownload_)
        resumeDiscovery();
}

void FamilyStreaming::pauseDiscovery()
{
    Discovery* discovery = Discovery::existing();
    if (discovery == nullptr || discovery->paused()) {
        // Someone else paused it (or a download already did): that pause is not ours to end.
        return;
    }
    discovery->pausePolling(true);
    discoveryPausedByDownload_ = true;
}

void FamilyStreaming::resumeDiscovery()
{
    discoveryPausedByDownload_ = false;
    if (Discovery* discovery = Discovery::existing())
        discovery->pausePolling(false);
}

DownloadWatchdog& FamilyStreaming::watchdog()
{
    if (!watchdog_)
        watchdog_ = std::make_unique<DownloadWatchdog>(
            address_, streamOps_.dataIn(), [this] { return streamOps_.hasReceiver() && streamOps_.streamPaused(); },
            streamOps_.silentEnds());
    // It runs on the camera's service thread while a download runs (disarming stops it), so an
    // idle camera's thread has nothing to wake up for.
    if (!watchdog_->started() && !watchdog_->start(CameraServices::find(address_)))
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): No service thread to run the download watchdog on.",
                  HLV_LABEL("kickOffDownload"), name_.c_str());
    return *watchdog_;
}

void FamilyStreaming::watchdogProgress()
{
    if (watchdog_)
        watchdog_->progress();
}
