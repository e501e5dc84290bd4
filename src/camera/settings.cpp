// The settings transport: a record carried to a camera's service thread, applied there and brought back.
#include "camera/settings.h"

#include "camera/camera_services.h"

namespace halvex::camera {

SettingsBase::SettingsBase(const std::shared_ptr<CameraServices>& service)
    : cameraName_(service ? service->cameraName() : std::string()), service_(service)
{
}

SettingsBase::~SettingsBase() = default;

bool SettingsBase::process()
{
    if (isSet()) {
        HLV_TRACE(thread::TRACE_WRAPPER, "Process Command/Settings (set)");
        return set();
    }
    HLV_TRACE(thread::TRACE_WRAPPER, "Process Command/Settings (get)");
    return get();
}

const std::string& SettingsBase::cameraName() const
{
    return cameraName_;
}

std::shared_ptr<CameraServices> SettingsBase::lockService() const
{
    return service_.lock();
}

} // namespace halvex::camera
