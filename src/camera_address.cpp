// Camera addresses: the 32-bit IPv4 key of every per-camera registry, as handle and as text.
#include "camera_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

std::string dottedAddress(uint32_t address)
{
    in_addr raw{};
    raw.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &raw, text, sizeof text) == nullptr)
        return "?.?.?.?";
    return text;
}

std::string dottedAddress(HX_CAMERA_HANDLE camera)
{
    return dottedAddress(static_cast<uint32_t>(camera));
}

bool handleIsAddress(HX_CAMERA_HANDLE camera)
{
    return (static_cast<uint64_t>(camera) >> 32) == 0;
}
