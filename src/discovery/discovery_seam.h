// Where the API meets camera discovery: the calls the API makes of the Discovery thread.
#pragma once

#include <cstdint>
#include <string>

namespace halvex::discovery {

// Each function is one call on the Discovery thread or its camera database (Discovery::factory,
// Discovery::close, Discovery::pausePolling, the lookups, adding a camera by address).
// Threads: any.
namespace seam {

// HX_register: creates and starts discovery on first use; records the scope asked for.
// False once discovery has been closed.
bool start(bool localInterfacesOnly);
// HX_shutdown: discovery is closed for good.
void close();
// HX_discover_pause: pauses or resumes polling (false once closed).
bool pause(bool paused);
bool paused();
bool localInterfacesOnly();

// HX_get_handle_by_name: the camera database's lookup by user-defined name or dotted address,
// and adding a camera that answers a unicast request (a dotted address; up to one second).
bool findCamera(const char* name, uint32_t& address);
// Who answers at a known camera address: its MAC address and serial number as its last discovery
// reply gives them; empty when discovery does not list the address.
std::string cameraIdentity(uint32_t address);
bool addCamera(const char* name, uint32_t& address);
// Why a camera that answered at `address` is not served (its maker, model and the reason); empty
// when no camera was refused there.
std::string refusal(uint32_t address);

} // namespace seam

} // namespace halvex::discovery
