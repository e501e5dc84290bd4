// The download flow of a register-based family's camera: starting a download from the camera's
// recording, its buffers on their way back (packed when asked, the last frame recognised), and
// ending it however it ends.
#include "family/family_download_flow.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/register_channel.h"
#include "family/confirmed_stream_control.h"
#include "family/download_watchdog.h"
#include "family/family_receiver_link.h"
#include "family/stream_flow_context.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using callback::HxStream;
using callback::HxStreamBuffer;
using camera::CameraServices;
using stream::HxStreamOperations;
using wire::RegisterPairs;

using thread::Message;
using thread::TRACE_OPERATIONS;
namespace ids = message_ids;
namespace regs = registers;

namespace {

constexpr uint32_t CAMERA_STATE_REVIEW = 8;
constexpr uint32_t PARTITION_RECORDED = 3;

// Download sessions are numbered across the process: a watchdog's stop may still be queued when
// the camera's operations (and this object) are rebuilt, and must not match the new object's
// first download.
uint64_t nextDownloadSession()
{
    static std::atomic<uint64_t> last{0};
    return ++last;
}

} // namespace

FamilyDownloadFlow::FamilyDownloadFlow(StreamFlowContext& flow, FamilyReceiverLink& link) : flow_(flow), link_(link) {}

// The watchdog stops before discovery polling is given back.
FamilyDownloadFlow::~FamilyDownloadFlow()
{
    watchdog_.reset();
}

bool FamilyDownloadFlow::running() const
{
    return running_;
}

void FamilyDownloadFlow::forget()
{
    watchdog_.reset();
    running_ = false;
}

void FamilyDownloadFlow::handleMessage(Message* message, HxStreamBuffer& stream)
{
    const char* who = HLV_LABEL("handleDownloadStreamMsg");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", who, flow_.name.c_str(), static_cast<void*>(message));
    if (stream.stop && staleWatchdogStop(message)) {
        HLV_LOG("%s(%s): The watchdog's stop came after its download ended; ignored.", who, flow_.name.c_str());
        FamilyReceiverLink::endHere(message);
        return;
    }
    if (stream.stop) {
        link_.passOn(message, stream);
        HLV_TRACE(TRACE_OPERATIONS, "%s: Stop the download", who);
        if (running_)
            stop();
        return;
    }
    if (stream.buffer() != nullptr)
        watchdogProgress();
    if (!flow_.streamOps.settings().settingsApplied()) {
        link_.passOn(message, stream);
        return;
    }
    HLV_TRACE(TRACE_OPERATIONS, "%s: Need to start the download", who);
    startSession(message, stream);
}

void FamilyDownloadFlow::bufferFilled(HxStreamBuffer& stream)
{
    watchdogProgress();
    if (format_ == PACKED_DOWNLOAD_FORMAT) {
        HX_READ_STREAM record = stream.record();
        packing::convertToPacked(record, packingImage_, flow_.name);
        stream.setResults(record.image_length, record.frame_id, record.status, record.received_length);
    }
    const HX_READ_STREAM& record = stream.record();
    if (!running_ || (record.status & HX_STREAM_STATUS_COMPLETE) == 0 || record.frame_id != endFrame_ ||
        record.received_length == 0)
        return;
    HLV_TRACE(TRACE_OPERATIONS, "Ending the download session shutdown for %s (flags: 0x%x, id: %d/%d, length: %d",
              flow_.name.c_str(), record.status, static_cast<int>(record.frame_id), static_cast<int>(endFrame_),
              static_cast<int>(record.received_length));
    stop();
    stream.setResults(record.image_length, record.frame_id, record.status | HX_STREAM_STATUS_LAST,
                      record.received_length);
    releaseBuffers();
}

// A download that has ended keeps no buffers: those lent beyond its end frame go back released,
// so a host may lend more than the range needs (and so never runs the throttle dry at its end).
void FamilyDownloadFlow::releaseBuffers()
{
    if (!flow_.streamOps.hasReceiver())
        return;
    auto* stop = new (std::nothrow)
        HxStream<Message>(ids::DOWNLOAD_STREAM_MSG, nullptr, CameraServices::find(flow_.address), 0, flow_.address);
    if (stop == nullptr) {
        HLV_LOG("%s(%s): Unable to allocate the stop message.", HLV_LABEL("handleStreaming"), flow_.name.c_str());
        return;
    }
    stop->stop = true;
    flow_.streamOps.handleMessage(stop);
}

// The watchdog's ticker may have posted its stop just as its download ended; by the time the stop
// is handled another download (or live) may run, which it must not touch.
bool FamilyDownloadFlow::staleWatchdogStop(const Message* message) const
{
    const auto* stop = dynamic_cast<const WatchdogStop*>(message);
    return stop != nullptr && (!running_ || stop->session != session_);
}

// The camera's state is checked before the buffer is queued, so a download that cannot start hands
// the buffer straight back marked faulty; once queued, the buffer belongs to the receiver's thread.
// The buffer is queued before the camera is told to send, so the first frame finds it.
void FamilyDownloadFlow::startSession(Message* message, HxStreamBuffer& stream)
{
    if (flow_.hooks.stopHeartBeat)
        flow_.hooks.stopHeartBeat();
    discoveryPause_.pause();
    Plan plan;
    if (!readPlan(plan) || !possible(plan)) {
        HLV_LOG("kick_off_download() failed!");
        refuseStart(message, stream);
        return;
    }
    link_.passOn(message, stream);
    if (!startCamera(plan)) {
        HLV_LOG("kick_off_download() failed!");
        flow_.streamOps.releaseBuffers();
        leaveDownloadMode();
    }
}

void FamilyDownloadFlow::refuseStart(Message* message, HxStreamBuffer& stream)
{
    if (stream.buffer() != nullptr) {
        const HX_READ_STREAM& record = stream.record();
        stream.setResults(0, 0, record.status | HX_STREAM_STATUS_ERROR, 0);
        message->status = thread::MESSAGE_DONE;
        message->forward();
    } else {
        FamilyReceiverLink::endHere(message);
    }
    if (flow_.streamOps.hasReceiver())
        flow_.streamOps.releaseBuffers();
    leaveDownloadMode();
}

bool FamilyDownloadFlow::kickOff()
{
    Plan plan;
    return readPlan(plan) && possible(plan) && startCamera(plan);
}

bool FamilyDownloadFlow::readPlan(Plan& plan)
{
    RegisterPairs registers{{regs::GIGE_REG_CAMERA_STATE, 0}, {regs::GIGE_REG_PARTITION_STATE, 0},
                            {regs::GIGE_REG_PB_C140, 0},      {regs::GIGE_REG_DOWNLOAD_START, 0},
                            {regs::GIGE_REG_DOWNLOAD_END, 0}, {regs::GIGE_REG_DOWNLOAD_C294, 0}};
    const uint32_t result = flow_.channel.readMultiReg(registers);
    if (result != 0) {
        HLV_LOG("%s(%s): Unable to read the camera's download state [%d]", HLV_LABEL("kickOffDownload"),
                flow_.name.c_str(), static_cast<int>(result));
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

bool FamilyDownloadFlow::possible(const Plan& plan) const
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
bool FamilyDownloadFlow::startCamera(const Plan& plan)
{
    endFrame_ = std::min(plan.endFrame, plan.recordedFrames - 1);
    format_ = plan.format;
    if (format_ == PACKED_DOWNLOAD_FORMAT)
        packingImage_ = recordedImage();
    RegisterPairs writes;
    flow_.streamOps.startDownload(writes, plan.startFrame, endFrame_, format_ == PACKED_DOWNLOAD_FORMAT);
    const uint32_t result =
        writeStreamControlConfirmed(flow_.channel, writes, registers::STREAM_CONTROL_DOWNLOAD, flow_.name);
    if (result != 0) {
        HLV_LOG("%s(%s): The camera did not take the download start [%d]", HLV_LABEL("kickOffDownload"),
                flow_.name.c_str(), static_cast<int>(result));
        return false;
    }
    flow_.writtenStreamControl = registers::STREAM_CONTROL_DOWNLOAD;
    running_ = true;
    // The start runs the camera; a throttle pause left over from an earlier download would keep
    // the receiver from pausing it again when this one's buffers run short.
    if (flow_.streamOps.hasReceiver() && flow_.streamOps.streamPaused())
        flow_.streamOps.pauseStream(false);
    session_ = nextDownloadSession();
    watchdog().arm(session_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): frames %u to %u, format %u", HLV_LABEL("kickOffDownload"), flow_.name.c_str(),
              plan.startFrame, endFrame_, format_);
    return true;
}

// Packing needs the frames' size and bit mode; without them it logs and leaves frames as sent.
packing::PackingImage FamilyDownloadFlow::recordedImage() const
{
    if (!flow_.hooks.packingImage)
        return {};
    try {
        return flow_.hooks.packingImage();
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("kickOffDownload"), flow_.name.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("kickOffDownload"), flow_.name.c_str(), error.what());
    }
    return {};
}

uint32_t FamilyDownloadFlow::stop()
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("stopDownload"), flow_.name.c_str());
    RegisterPairs writes;
    flow_.streamOps.stopDownload(writes);
    uint32_t result = 0;
    if (!writes.empty() && link_.channelUsable()) {
        result = writeStreamControlConfirmed(flow_.channel, writes, registers::STREAM_CONTROL_STOP, flow_.name);
        if (result != 0)
            HLV_LOG("%s: HxComm::writeMultiReg was not successful.", HLV_LABEL("stopDownload"));
    }
    flow_.writtenStreamControl = registers::STREAM_CONTROL_STOP;
    leaveDownloadMode();
    return result;
}

void FamilyDownloadFlow::leaveDownloadMode()
{
    running_ = false;
    if (watchdog_)
        watchdog_->disarm();
    if (flow_.hooks.startHeartBeat && link_.channelUsable())
        flow_.hooks.startHeartBeat();
    discoveryPause_.end();
}

DownloadWatchdog& FamilyDownloadFlow::watchdog()
{
    HxStreamOperations& ops = flow_.streamOps;
    if (!watchdog_)
        watchdog_ = std::make_unique<DownloadWatchdog>(
            flow_.address, ops.dataIn(), [&ops] { return ops.hasReceiver() && ops.streamPaused(); }, ops.silentEnds());
    // It runs on the camera's service thread while a download runs (disarming stops it), so an
    // idle camera's thread has nothing to wake up for.
    if (!watchdog_->started() && !watchdog_->start(CameraServices::find(flow_.address)))
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): No service thread to run the download watchdog on.",
                  HLV_LABEL("kickOffDownload"), flow_.name.c_str());
    return *watchdog_;
}

void FamilyDownloadFlow::watchdogProgress()
{
    if (watchdog_)
        watchdog_->progress();
}

} // namespace halvex::family
