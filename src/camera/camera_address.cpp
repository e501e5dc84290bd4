// Camera addresses: the 32-bit IPv4 key of every per-camera registry, as handle and as text.
#include "camera/camera_address.h"

#include "platform/ipv4_endpoint.h"

namespace halvex::camera {

std::string dottedAddress(uint32_t address)
{
    return platform::ipv4ToText(address);
}

std::string dottedAddress(HX_CAMERA_HANDLE camera)
{
    return dottedAddress(static_cast<uint32_t>(camera));
}

bool handleIsAddress(HX_CAMERA_HANDLE camera)
{
    return (static_cast<uint64_t>(camera) >> 32) == 0;
}

} // namespace halvex::camera
