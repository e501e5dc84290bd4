// Tarrow pollers: the heartbeat poller (2.5 s) and the progress poller (500 ms while recording,
// 100 ms during playback), and when a camera's operations start, re-time and stop them.
#include "tarrow/tarrow_pollers.h"

#include <exception>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "camera/camera_services.h"
#include "camera/command.h"
#include "camera/settings.h"
#include "control/camera_address.h"
#include "control/hx_notification.h"
#include "control/message_ids.h"
#include "registers/register_map.h"
#include "tarrow/tarrow_commands.h"
#include "tarrow/tarrow_notifications.h"
#include "tarrow/tarrow_operations.h"

using namespace HX_REGISTERS;
using HLV_THREAD::TRACE_OPERATIONS;

namespace {

const std::vector<uint32_t> RECORDING_REGISTERS{
    GIGE_REG_PROGRESS_C008,    GIGE_REG_PROGRESS_A054, GIGE_REG_PROGRESS_A058, GIGE_REG_PROGRESS_A050,
    GIGE_REG_TRIGGER_POSITION, GIGE_REG_PROGRESS_C08C, GIGE_REG_PROGRESS_C090, GIGE_REG_PROGRESS_C180};
const std::vector<uint32_t> PLAYBACK_REGISTERS{GIGE_REG_PB_STATUS, GIGE_REG_CSI_RVW_FRAME_NUM};

// A state query the service thread owns: it reads the camera state, and is deleted there once
// handled (or by the service's halt, when it arrives too late).
class StateQuery : public HLV_THREAD::Message, public Settings<HX_COMMAND> {
public:
    StateQuery(const std::shared_ptr<CameraServices>& service, const HX_COMMAND& record)
        : Settings<HX_COMMAND>(service, record)
    {
        req = HX_MESSAGE_IDS::CAM_SETTINGS_MSG;
    }

    bool isSet() const override { return false; }
    bool set() override { return get(); }

    bool get() override
    {
        return runCommandOperation(lockService(), [this](CameraServices& service) { service.getCommand(&record()); });
    }
};

bool polledState(uint32_t state)
{
    using namespace TARROW_COMMANDS;
    return state == STATE_ARM || state == STATE_TRIGGER || state == STATE_REVIEW || state == STATE_BUSY;
}

} // namespace

namespace TARROW_OPERATIONS {

HeartBeatPoller::HeartBeatPoller(uint32_t cameraAddress, RegisterChannel& channel)
    : Timer(HLV_THREAD::scaledMicroseconds(PERIOD_MICROSECONDS)), cameraAddress_(cameraAddress), channel_(channel)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): timeout=%d", "TARROW_OPERATIONS::HeartBeatPoller::HeartBeatPoller",
              dottedAddress(cameraAddress_).c_str(), PERIOD_MICROSECONDS);
}

HeartBeatPoller::~HeartBeatPoller()
{
    stop();
}

void HeartBeatPoller::tick()
{
    static constexpr const char* method = "TARROW_OPERATIONS::HeartBeatPoller::tick";
    const std::string name = dottedAddress(cameraAddress_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): paused=%d", method, name.c_str(), paused() ? 1 : 0);
    if (paused())
        return;
    const std::optional<uint64_t> activity = channel_.activityCount(cameraAddress_);
    if (!activity) {
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): No comms pointer, stopping tick.", method, name.c_str());
        stop();
        return;
    }
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): cam_activity=%llu, usage_count=%llu", method, name.c_str(),
              static_cast<unsigned long long>(*activity), static_cast<unsigned long long>(lastActivity_));
    if (*activity == lastActivity_)
        postStateQuery();
    lastActivity_ = *activity;
}

void HeartBeatPoller::postStateQuery()
{
    std::shared_ptr<CameraServices> service = CameraServices::find(cameraAddress_);
    if (!service)
        return;
    HX_COMMAND record;
    HX_command_init(&record, sizeof(record));
    auto* query = new StateQuery(service, record);
    query->owner = service.get();
    service->post(query);
}

ProgressPoller::ProgressPoller(uint32_t cameraAddress, uint32_t cameraState, RegisterChannel& channel,
                               uint32_t periodMicroseconds, uint64_t poll)
    : Timer(periodMicroseconds), cameraAddress_(cameraAddress), cameraState_(cameraState), poll_(poll),
      channel_(channel)
{
}

ProgressPoller::~ProgressPoller()
{
    stop();
}

void ProgressPoller::setRegisters(std::vector<uint32_t> registers)
{
    std::lock_guard<std::mutex> lock(registersLock_);
    registers_ = std::move(registers);
}

std::vector<uint32_t> ProgressPoller::registers() const
{
    std::lock_guard<std::mutex> lock(registersLock_);
    return registers_;
}

void ProgressPoller::tick()
{
    if (!polledState(cameraState_)) {
        HLV_LOG("%s: Unexpected camera state [0x%x]", "TARROW_OPERATIONS::ProgressPoller::tick", cameraState_);
        return;
    }
    RegisterPairs pairs;
    for (uint32_t reg : registers())
        pairs.push_back({reg, 0});
    const uint64_t known = channel_.stampRead(cameraAddress_);
    if (pairs.empty() || channel_.readMultiReg(pairs) != 0)
        return;
    std::shared_ptr<CameraServices> service = CameraServices::find(cameraAddress_);
    if (!service)
        return;
    auto* notification = new HX_COMM::NotificationMessage(std::move(pairs));
    notification->poll = poll_;
    notification->known = known;
    notification->owner = service.get();
    service->post(notification);
}

// --- When the pollers run ---------------------------------------------------------------------

PollerControl::PollerControl(uint32_t cameraAddress, RegisterChannel& channel)
    : cameraAddress_(cameraAddress), name_(dottedAddress(cameraAddress)), channel_(channel)
{
}

PollerControl::~PollerControl() = default;

void PollerControl::startHeartBeat()
{
    static constexpr const char* method = "TarrowOperations::startHeartBeatPoller";
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (heartBeat_) {
            heartBeat_->setPaused(false);
            return;
        }
    }
    if (const uint32_t result = channel_.writeReg(GIGE_REG_HEARTBEAT_TIMEOUT, PollerControl::HEARTBEAT_TIMEOUT_MS);
        result != 0)
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
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", "TarrowOperations::stopHeartBeatPoller", name_.c_str());
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
    static constexpr const char* method = "TarrowOperations::checkProgressPoller";
    using namespace TARROW_COMMANDS;
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
    const uint32_t scaled = HLV_THREAD::scaledMicroseconds(period);
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
    if (const uint32_t result = channel_.writeReg(GIGE_REG_HEARTBEAT_TIMEOUT, PollerControl::HEARTBEAT_TIMEOUT_MS);
        result != 0)
        HLV_LOG("%s(%s): Unable to set the camera's heartbeat time-out [%d]", "TarrowOperations::cameraReturned",
                name_.c_str(), static_cast<int>(result));
}

} // namespace TARROW_OPERATIONS

// --- The owner's side ---------------------------------------------------------------------------

void TarrowOperations::startHeartBeatPoller()
{
    pollers_.startHeartBeat();
    watchForRestart();
}

void TarrowOperations::stopHeartBeatPoller()
{
    pollers_.stopHeartBeat();
}

bool TarrowOperations::heartBeatPollerRunning() const
{
    return pollers_.heartBeatRunning();
}

uint32_t TarrowOperations::progressPollerPeriod() const
{
    return pollers_.progressPeriod();
}

void TarrowOperations::checkProgressPoller(uint32_t playMode)
{
    uint32_t state = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        state = command_.code;
    }
    if (pollers_.checkProgress(state, playMode))
        postFinalProgress();
}

// A recording that reached review may have grown since the last poll: subscribers are given its
// complete progress once more.
void TarrowOperations::postFinalProgress()
{
    if (!refreshGroup(RegisterGroup::Progress))
        return;
    std::unique_ptr<HLV_CALLBACK::CallbackRequest> event;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (subscriptionCount_ == 0)
            return;
        event = changeLocked(HX_PROGRESS_UPDATE);
    }
    if (event)
        HLV_CALLBACK::Callback::postOwned(std::move(event));
}
