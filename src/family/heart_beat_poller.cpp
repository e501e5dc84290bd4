// Heart beat poller: a state query posted after a quiet period.
#include "family/heart_beat_poller.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "camera/camera_address.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "camera/command.h"
#include "camera/settings.h"
#include "registers/register_map.h"

namespace halvex::family {

using camera::CameraServices;
using camera::dottedAddress;
using camera::runCommandOperation;
using camera::Settings;
using control::RegisterChannel;

using namespace registers;
using thread::TRACE_OPERATIONS;

namespace {

// A state query the service thread owns: it reads the camera state, and is deleted there once
// handled (or by the service's halt, when it arrives too late).
class StateQuery : public thread::Message, public Settings<HX_COMMAND> {
public:
    StateQuery(const std::shared_ptr<CameraServices>& service, const HX_COMMAND& record)
        : Settings<HX_COMMAND>(service, record)
    {
        req = message_ids::CAM_SETTINGS_MSG;
    }

    bool isSet() const override { return false; }
    bool set() override { return get(); }

    bool get() override
    {
        return runCommandOperation(
            lockService(), [this](CameraServices& service) { service.requiredOperations()->getCommand(&record()); });
    }
};

} // namespace

namespace pollers {

HeartBeatPoller::HeartBeatPoller(uint32_t cameraAddress, RegisterChannel& channel)
    : Timer(thread::scaledMicroseconds(PERIOD_MICROSECONDS)), cameraAddress_(cameraAddress), channel_(channel)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): timeout=%d", "FAMILY_POLLERS::HeartBeatPoller::HeartBeatPoller",
              dottedAddress(cameraAddress_).c_str(), PERIOD_MICROSECONDS);
}

HeartBeatPoller::~HeartBeatPoller()
{
    stop();
}

void HeartBeatPoller::tick()
{
    static constexpr const char* method = "FAMILY_POLLERS::HeartBeatPoller::tick";
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

} // namespace pollers

} // namespace halvex::family
