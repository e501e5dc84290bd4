// Settings access: trust of a cached record, a group read that must succeed, a setter's entry.
#include "family/settings_access.h"

#include <string>

#include <hlv_thread/note.h>

namespace halvex::family {

using namespace registers;

namespace settings {

bool cacheTrusted(const FamilyCamera& camera, uint32_t valid)
{
    std::lock_guard<std::mutex> lock(camera.state);
    return valid != 0 && camera.subscriptions != 0;
}

void refreshGroupOrThrow(FamilyCamera& camera, RegisterGroup id, const char* method)
{
    if (!camera.groups.refresh(id)) {
        HLV_THROW(thread::RuntimeError, "%s(%s): Unable to read the %s registers from the camera", method,
                  camera.name.c_str(), std::string(groupName(id)).c_str());
    }
}

void enterSetter(const FamilyCamera& camera, const char* method, const void* inOut)
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, camera.name.c_str());
    if (inOut == nullptr)
        HLV_THROW(thread::LogicError, "NULL pointer in API call");
}

} // namespace settings

} // namespace halvex::family
