// Register semantics, recording, playback and heartbeat of the stand-in camera.
#include "sim/device/camera_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include <fmt/format.h>

#include "sim/device/register_defaults.h"
#include "sim/device/stream_control.h"
#include "sim/registers/camera_registers.h"
#include "wire/control_packet.h"

namespace hxsim {

using namespace halvex::sim;
namespace status = halvex::wire::camera_status;

namespace {

constexpr uint32_t kGateOpen = halvex::wire::kWriteGateOpen;
constexpr uint32_t kSaveIdle = 1u << 31;
constexpr uint32_t kSaveClearError = 1u << 30;
constexpr uint32_t kReviewFrameValid = 1u << 0;
constexpr uint32_t kSingleFrame = 1u << 1;

// The analog gain flag arrived with this firmware; older cameras take the whole word as value.
bool takesGainFlag(const std::string& version)
{
    unsigned major = 0, minor = 0, patch = 0;
    std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch);
    return std::make_tuple(major, minor, patch) >= std::make_tuple(2u, 5u, 2u);
}

} // namespace

CameraDevice::CameraDevice(const CameraConfig& config, Logger logger)
    : config_(config), logger_(std::move(logger)), regs_(defaultRegisters(config)),
      rules_(config.sensor, takesGainFlag(config.deviceVersion()), config.family() == CameraFamily::Morvane),
      memory_(config), documents_(config.family() == CameraFamily::Morvane)
{
}

void CameraDevice::log(const std::string& line) const
{
    if (logger_) {
        logger_(line);
    }
}

bool CameraDevice::gateOpen() const
{
    return regs_.get(halvex::wire::kWriteGateRegister) == kGateOpen;
}

bool CameraDevice::streaming() const
{
    return regs_.get(GIGE_REG_STREAM_CONTROL) != StreamControl::kStop;
}

uint16_t CameraDevice::write(uint32_t address, uint32_t value, Endpoint from, SimTime now)
{
    if (!regs_.has(address)) {
        log(fmt::format("write of unknown register 0x{:04X} refused (invalid address)", address));
        return status::kInvalidAddress;
    }
    if (address == halvex::wire::kWriteGateRegister) {
        regs_.set(address, value);
        return status::kSuccess;
    }
    if (!gateOpen() && !halvex::wire::isUngatedRegister(address)) {
        log(fmt::format("write of {} (0x{:04X}) refused: write gate closed", registerName(address), address));
        return status::kAccessDenied;
    }
    if (regs_.readOnly(address)) {
        log(fmt::format("write of read-only {} (0x{:04X}) refused", registerName(address), address));
        return status::kAccessDenied;
    }
    const uint16_t status = writeSpecial(address, value, from, now);
    if (status == status::kSuccess && observer_) {
        observer_(address, value);
    }
    return status;
}

uint16_t CameraDevice::writeSpecial(uint32_t address, uint32_t value, Endpoint from, SimTime now)
{
    switch (address) {
    case GIGE_REG_CCP: {
        const uint16_t status = privilege_.write(value, from, now);
        regs_.set(address, privilege_.value());
        return status;
    }
    case GIGE_REG_STATE_COMMAND:
        regs_.set(address, value);
        stateCommand(value, now);
        return status::kSuccess;
    case GIGE_REG_STREAM_CONTROL: streamControl(value, now); return status::kSuccess;
    case GIGE_REG_CONTROL_KEY: return status::kSuccess; // accepted, changes nothing
    case GIGE_REG_PARTITION_STATE: return partitionWrite(value);
    case GIGE_REG_SAVE_STATE:
        if (value == kSaveClearError) {
            regs_.set(address, kSaveIdle);
        }
        return status::kSuccess;
    default: break;
    }
    if (documents_.readable(address) || documents_.writable(address)) {
        if (value == 0) {
            documents_.rewind(address);
        }
        return status::kSuccess;
    }
    if (auto accepted = rules_.accept(regs_, address, value)) {
        regs_.set(address, *accepted);
    } else {
        log(fmt::format("{} (0x{:04X}) = 0x{:X} not offered by this camera; kept 0x{:X}", registerName(address),
                        address, value, regs_.get(address)));
    }
    return status::kSuccess;
}

// Hosts write 0 before they start live. The register keeps telling whether a recording can be
// downloaded, which only the recorder decides, so 0 is taken and changes nothing; any other value
// would claim a recording the camera does not hold, and is refused like a read-only write.
uint16_t CameraDevice::partitionWrite(uint32_t value)
{
    if (value == PartitionState::kEmpty) {
        return status::kSuccess;
    }
    log(fmt::format("write of {} (0x{:04X}) = {} refused: only {} is taken", registerName(GIGE_REG_PARTITION_STATE),
                    GIGE_REG_PARTITION_STATE, value, PartitionState::kEmpty));
    return status::kAccessDenied;
}

void CameraDevice::settle()
{
    rules_.reconcile(regs_);
}

RecordPlan CameraDevice::plan() const
{
    RecordPlan plan;
    plan.length = rules_.recordLength(regs_);
    plan.triggerFrames = rules_.triggerFrames(regs_, plan.length);
    plan.frameRate = static_cast<uint32_t>(std::max(1.0, std::floor(rules_.frameRate(regs_))));
    plan.geometry = FrameGeometry{regs_.get(GIGE_REG_ROI_WIDTH), regs_.get(GIGE_REG_ROI_HEIGHT),
                                  regs_.get(GIGE_REG_PIXEL_FORMAT), rules_.frameBytes(regs_)};
    return plan;
}

void CameraDevice::stateCommand(uint32_t command, SimTime now)
{
    const CameraState before = recorder_.state();
    if (!recorder_.command(command, now, plan())) {
        log(fmt::format("state command {} ignored in state {}", command, stateName(before)));
        return;
    }
    log(fmt::format("state command {}: {} -> {}", command, stateName(before), stateName(recorder_.state())));
    advance(now);
}

void CameraDevice::streamControl(uint32_t value, SimTime now)
{
    const uint32_t before = regs_.get(GIGE_REG_STREAM_CONTROL);
    const bool review = recorder_.state() == CameraState::Review;
    switch (value) {
    case StreamControl::kStop: stopPlayback(now); break;
    case StreamControl::kPlay:
    case StreamControl::kShow:
        if (!review) {
            log(fmt::format("stream control {} ignored outside review", value));
            return;
        }
        value == StreamControl::kPlay ? startPlayback(now) : showFrame();
        break;
    case StreamControl::kLive:
    case StreamControl::kDownload:
    case StreamControl::kPause:
    case StreamControl::kResume: break;
    default: log(fmt::format("stream control {} ignored: no such mode", value)); return;
    }
    regs_.set(GIGE_REG_STREAM_CONTROL, value);
    if (before == StreamControl::kStop && value != StreamControl::kStop) {
        privilege_.streamStarted(now);
    }
}

void CameraDevice::startPlayback(SimTime now)
{
    const uint32_t direction = regs_.get(GIGE_REG_DOWNLOAD_E92C);
    PlaybackRequest request;
    request.current = regs_.get(GIGE_REG_DOWNLOAD_E918);
    request.first = regs_.get(GIGE_REG_DOWNLOAD_START);
    request.last = regs_.get(GIGE_REG_DOWNLOAD_END);
    request.interval = direction & ~kReverse;
    request.reverse = (direction & kReverse) != 0;
    request.framesPerSecond = regs_.get(GIGE_REG_DOWNLOAD_E930);
    const uint32_t length = frames_.recording() ? frames_.recording()->length : 0;
    playback_.play(request, length, now);
    regs_.set(GIGE_REG_PB_CONTROL, playback_.controlWord());
    regs_.set(GIGE_REG_PB_STATUS, kReviewFrameValid);
    regs_.set(GIGE_REG_PB_LAST_FRAME, playback_.last());
    regs_.set(GIGE_REG_CSI_RVW_FRAME_NUM, playback_.position(now));
}

void CameraDevice::showFrame()
{
    const uint32_t length = frames_.recording() ? frames_.recording()->length : 0;
    playback_.show(regs_.get(GIGE_REG_DOWNLOAD_E918), length);
    const uint32_t frame = playback_.position(SimTime{0});
    regs_.set(GIGE_REG_PB_CONTROL, playback_.controlWord());
    regs_.set(GIGE_REG_PB_STATUS, kSingleFrame);
    regs_.set(GIGE_REG_ACTIVE_FRAME_NUM, frame);
    regs_.set(GIGE_REG_CSI_RVW_FRAME_NUM, frame);
}

void CameraDevice::stopPlayback(SimTime now)
{
    if (playback_.playing()) {
        playback_.stop(now);
        regs_.set(GIGE_REG_ACTIVE_FRAME_NUM, playback_.position(now));
        regs_.set(GIGE_REG_CSI_RVW_FRAME_NUM, playback_.position(now));
    }
    regs_.set(GIGE_REG_PB_CONTROL, playback_.controlWord());
    regs_.set(GIGE_REG_PB_STATUS, 0);
}

std::vector<uint8_t> CameraDevice::readMemory(uint32_t address, std::size_t count)
{
    if (documents_.readable(address)) {
        return documents_.read(address, count);
    }
    return memory_.read(address, count, regs_);
}

uint16_t CameraDevice::writeMemory(uint32_t address, std::span<const uint8_t> data)
{
    if (documents_.writable(address)) {
        documents_.receive(address, data);
        if (address == GIGE_REG_SAVE_REQUEST_JSON) {
            save_.request(documents_.received(address));
        }
        return status::kSuccess;
    }
    if (CameraMemory::inTextBlock(address, data.size())) {
        return memory_.write(address, data);
    }
    log(fmt::format("memory write of {} bytes at 0x{:04X} refused (invalid address)", data.size(), address));
    return status::kInvalidAddress;
}

void CameraDevice::advance(SimTime now)
{
    while (recorder_.advance(now)) {
        log(fmt::format("camera state now {}", stateName(recorder_.state())));
    }
    syncRecording(now);
    syncProgress(now);
    checkHeartbeat(now);
    save_.advance(now, regs_);
    if (playback_.playing()) {
        regs_.set(GIGE_REG_CSI_RVW_FRAME_NUM, playback_.position(now));
    }
}

// Mirrors the recorder into the state registers, and the recording held into the review and
// playback registers whenever a recording appears or is discarded.
void CameraDevice::syncRecording(SimTime now)
{
    regs_.set(GIGE_REG_CAMERA_STATE, static_cast<uint32_t>(recorder_.state()));
    regs_.set(GIGE_REG_PARTITION_STATE, recorder_.partitionState());
    const auto& recording = recorder_.recording();
    const uint32_t serial = recording ? recording->serial : 0;
    if (serial == shownRecording_) {
        return;
    }
    shownRecording_ = serial;
    if (recording) {
        frames_.store(*recording);
        regs_.set(GIGE_REG_PB_C140, recording->length);
        regs_.set(GIGE_REG_PROGRESS_C180, recording->triggerFrame);
        regs_.set(GIGE_REG_PB_LAST_FRAME, recording->length - 1);
        regs_.set(GIGE_REG_ACTIVE_FRAME_NUM, recording->triggerFrame);
        regs_.set(GIGE_REG_CSI_RVW_FRAME_NUM, recording->triggerFrame);
        return;
    }
    frames_.clear();
    const uint32_t mode = regs_.get(GIGE_REG_STREAM_CONTROL);
    if (mode == StreamControl::kPlay || mode == StreamControl::kShow) {
        regs_.set(GIGE_REG_STREAM_CONTROL, StreamControl::kStop);
    }
    stopPlayback(now);
    for (uint32_t address : {GIGE_REG_PB_C140, GIGE_REG_PROGRESS_C180, GIGE_REG_PB_LAST_FRAME,
                             GIGE_REG_ACTIVE_FRAME_NUM, GIGE_REG_CSI_RVW_FRAME_NUM}) {
        regs_.set(address, 0);
    }
}

void CameraDevice::syncProgress(SimTime now)
{
    const bool counting = recorder_.state() != CameraState::Idle && recorder_.state() != CameraState::Busy;
    regs_.set(GIGE_REG_PROGRESS_C08C, recorder_.framesSinceArm(now));
    regs_.set(GIGE_REG_PROGRESS_C090, recorder_.framesSinceTrigger(now));
    regs_.set(GIGE_REG_PROGRESS_A050, static_cast<uint32_t>(recorder_.framesSinceArmUncapped(now)));
    regs_.set(GIGE_REG_PROGRESS_C008, counting ? recorder_.plan().length : 0);
    regs_.set(GIGE_REG_PROGRESS_A058, recorder_.recordingsMade());
    regs_.set(GIGE_REG_PROGRESS_A054, recorder_.recording() ? recorder_.recording()->triggerFrame : 0);
}

void CameraDevice::checkHeartbeat(SimTime now)
{
    if (now < privilege_.expiry(streaming(), regs_.get(GIGE_REG_HEARTBEAT_TIMEOUT))) {
        return;
    }
    log(fmt::format("heartbeat expired after {} ms: control released{}", regs_.get(GIGE_REG_HEARTBEAT_TIMEOUT),
                    streaming() ? ", streams stopped" : ""));
    privilege_.expire();
    regs_.set(GIGE_REG_CCP, privilege_.value());
    if (streaming()) {
        stopPlayback(now);
        regs_.set(GIGE_REG_STREAM_CONTROL, StreamControl::kStop);
    }
}

SimTime CameraDevice::nextDeadline() const
{
    return std::min({recorder_.nextChange(), privilege_.expiry(streaming(), regs_.get(GIGE_REG_HEARTBEAT_TIMEOUT)),
                     save_.nextDeadline()});
}

} // namespace hxsim
