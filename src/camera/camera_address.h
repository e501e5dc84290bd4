// Camera addresses: the 32-bit IPv4 key of every per-camera registry, as handle and as text.
#pragma once

#include <cstdint>
#include <string>

#include <hx/hx.h>

namespace halvex::camera {

// A camera address is the IPv4 address as stored in a socket address (network byte order),
// read as a 32-bit number on this host; a camera handle carries it in its low 32 bits.

// Dotted-quad text of the address ("127.0.0.2").
std::string dottedAddress(uint32_t address);

// The dotted text of a camera handle's address.
std::string dottedAddress(HX_CAMERA_HANDLE camera);

// True when the handle holds nothing beyond a 32-bit address.
bool handleIsAddress(HX_CAMERA_HANDLE camera);

} // namespace halvex::camera
