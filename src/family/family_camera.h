// Family camera: what the parts of a register-based family share about their one camera.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "camera/camera_operations.h"
#include "family/family_traits.h"
#include "family/register_groups.h"

namespace halvex::stream {
class HxStreamOperations;
} // namespace halvex::stream

namespace halvex::family {

// References into the family's operations object, which builds this and outlives every part that
// holds it. `state` is the operations object's state mutex: it guards `cached`, `groups` and
// `subscriptions`, is never held across a camera exchange, and is never taken while held.
// `settings` serialises the setters of one camera and may span their exchanges.
struct FamilyCamera {
    // The operations object itself, for what its interface offers (the sensor, and operations a
    // family may override, such as the lens status).
    camera::CameraOperations& operations;
    const uint32_t address;
    const std::string& name;
    control::RegisterChannel& channel;
    std::mutex& state;
    std::mutex& settings;
    uint32_t& subscriptions;
    camera::CachedRecords& cached;
    FamilyRegisterGroups& groups;
    stream::HxStreamOperations& streamOps;
    // The HX_FORMAT_* bits the camera can download.
    const uint32_t& formatFlags;
    const FamilyTraits& traits;
};

} // namespace halvex::family
