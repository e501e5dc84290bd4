// Where the API meets camera discovery. Discovery does not exist yet: this records what the API
// asks of it, so that the API's calls and their order are already in place.
#pragma once

#include <cstdint>

// SEAM: every function here stands in for a call on the Discovery thread or its camera
// database. When discovery lands, each body becomes that call (Discovery::factory,
// Discovery::close, Discovery::pausePolling, getDiscoveryInfoByName, adding a camera by name)
// and this file goes away. Threads: any.
namespace DISCOVERY_SEAM {

// HX_register: discovery would be created and started here; records the scope asked for.
// False once discovery has been closed.
bool start(bool localInterfacesOnly);
// HX_shutdown: discovery is closed for good.
void close();
// HX_discover_pause: records the pause flag (false once closed).
bool pause(bool paused);
bool paused();
bool localInterfacesOnly();

// HX_get_handle_by_name: the camera database's lookup by user-defined name or dotted address,
// and adding a camera that answers a unicast request. Both fail until the database exists.
bool findCamera(const char* name, uint32_t& address);
bool addCamera(const char* name, uint32_t& address);

} // namespace DISCOVERY_SEAM
