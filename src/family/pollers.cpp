// Family pollers: the heartbeat poller (2.5 s) and the progress poller (500 ms while recording,
// 100 ms during playback) started, re-timed and stopped.
#include "family/pollers.h"

#include <exception>
#include <utility>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "camera/camera_address.h"
#include "camera/camera_services.h"
#include "family/commands.h"
#include "family/notifications.h"
#include "registers/register_map.h"

namespace halvex::family {

using camera::CameraServices;
using camera::dottedAddress;
using control::RegisterChannel;

using namespace registers;
using thread::TRACE_OPERATIONS;

namespace {

const std::vector<uint32_t> RECORDING_REGISTERS{
    GIGE_REG_PROGRESS_C008,    GIGE_REG_PROGRESS_A054, GIGE_REG_PROGRESS_A058, GIGE_REG_PROGRESS_A050,
    GIGE_REG_TRIGGER_POSITION, GIGE_REG_PROGRESS_C08C, GIGE_REG_PROGRESS_C090, GIGE_REG_PROGRESS_C180};
const std::vector<uint32_t> PLAYBACK_REGISTERS{GIGE_REG_PB_STATUS, GIGE_REG_CSI_RVW_FRAME_NUM};

} // namespace

namespace pollers {

PollerControl::PollerControl(uint32_t cameraAddress, RegisterChannel& channel)
    : cameraAddress_(cameraAddress), name_(dottedAddress(cameraAddress)), channel_(channel)
{
}

PollerControl::~PollerControl() = default;

void PollerControl::startHeartBeat()
{
    startOrResumeHeartBeat();
    if (heartBeatStarted_)
        heartBeatStarted_();
}

void PollerControl::onHeartBeatStarted(std::function<void()> started)
{
    heartBeatStarted_ = std::move(started);
}

void PollerControl::startOrResumeHeartBeat()
{
    static constexpr const char* method = HLV_LABEL("startHeartBeatPoller");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (heartBeat_) {
            heartBeat_->setPaused(false);
            return;
        }
    }
    if (const uint32_t result = channel_.writeReg(GIGE_REG_HEARTBEAT_TIMEOUT, HEARTBEAT_TIMEOUT_MS); result != 0)
        HLV_LOG("%s(%s): Unable to set the camera's heartbeat time-out [%d]", method, name_.c_str(),
                static_cast<int>(result));
    std::lock_guard<std::mutex> lock(lock_);
    if (heartBeat_)
        return;
    try {
        heartBeat_ = std::make_unique<HeartBeatPoller>(cameraAddress_, channel_);
        if (!heartBeat_->start(CameraServices::find(cameraAddress_)))
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): No service thread to poll on.", method, name_.c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Unable to allocate our poller object (%s)", method, error.what());
        heartBeat_.reset();
    }
}

void PollerControl::stopHeartBeat()
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("stopHeartBeatPoller"), name_.c_str());
    std::unique_ptr<HeartBeatPoller> poller;
    {
        std::lock_guard<std::mutex> lock(lock_);
        poller = std::move(heartBeat_);
    }
}

bool PollerControl::heartBeatRunning() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return heartBeat_ != nullptr && !heartBeat_->paused();
}

uint32_t PollerControl::progressPeriod() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return progress_ ? progress_->period() : 0;
}

bool PollerControl::currentPoll(uint64_t poll) const
{
    std::lock_guard<std::mutex> lock(lock_);
    return progress_ != nullptr && progress_->poll() == poll;
}

// While the camera records (or is busy) its progress is read every 500 ms; during playback (play
// mode forward or reverse in review) the shown frame every 100 ms; otherwise nothing is polled.
bool PollerControl::checkProgress(uint32_t state, uint32_t playMode)
{
    static constexpr const char* method = HLV_LABEL("checkProgressPoller");
    using namespace family::commands;
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): state=%d, play_mode=%d", method, name_.c_str(), state, playMode);
    uint32_t period = 0;
    const std::vector<uint32_t>* registers = nullptr;
    if (state == STATE_ARM || state == STATE_TRIGGER || state == STATE_BUSY) {
        period = ProgressPoller::RECORDING_PERIOD_MICROSECONDS;
        registers = &RECORDING_REGISTERS;
    } else if (state == STATE_REVIEW && (playMode == HX_PLAY_FORWARD || playMode == HX_PLAY_REVERSE)) {
        period = ProgressPoller::PLAYBACK_PERIOD_MICROSECONDS;
        registers = &PLAYBACK_REGISTERS;
    }
    std::unique_ptr<ProgressPoller> stopped;
    std::unique_lock<std::mutex> lock(lock_);
    if (registers == nullptr) {
        if (progress_)
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Stop the poller.", method, name_.c_str());
        stopped = std::move(progress_);
        lock.unlock();
        return stopped && state == STATE_REVIEW && stopped->cameraState() != STATE_REVIEW;
    }
    const uint32_t scaled = thread::scaledMicroseconds(period);
    try {
        if (progress_) {
            // Re-timing skips a tick, so only a different period is set.
            if (progress_->period() != scaled) {
                HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Update the polling period to %d.", method, name_.c_str(), period);
                progress_->setPeriod(scaled);
            }
        } else {
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Allocate the poller.", method, name_.c_str());
            progress_ = std::make_unique<ProgressPoller>(cameraAddress_, state, channel_, scaled, ++polls_);
        }
        progress_->setRegisters(*registers);
        if (!progress_->started()) {
            if (!progress_->start(CameraServices::find(cameraAddress_)))
                HLV_TRACE(TRACE_OPERATIONS, "%s(%s): No service thread to poll on.", method, name_.c_str());
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Start the poller.", method, name_.c_str());
        }
    } catch (const std::exception& error) {
        HLV_LOG("%s: Unable to allocate our progress poller object (%s)", method, error.what());
        progress_.reset();
    }
    return false;
}

void PollerControl::restoreHeartBeatTimeout()
{
    if (!heartBeatRunning())
        return;
    if (const uint32_t result = channel_.writeReg(GIGE_REG_HEARTBEAT_TIMEOUT, HEARTBEAT_TIMEOUT_MS); result != 0)
        HLV_LOG("%s(%s): Unable to set the camera's heartbeat time-out [%d]", HLV_LABEL("cameraReturned"),
                name_.c_str(), static_cast<int>(result));
}

} // namespace pollers

} // namespace halvex::family
