// Where the API meets camera discovery: each call goes to the Discovery thread and its database.
#include "discovery/discovery_seam.h"

#include <atomic>

#include "discovery/discovery.h"
#include "discovery/discovery_db.h"

namespace halvex::discovery::seam {

namespace {

// Recorded for HX_register_local; discovery itself does not read it.
std::atomic<bool> localFlag{false};

} // namespace

bool start(bool localInterfacesOnly)
{
    localFlag.store(localInterfacesOnly);
    return Discovery::factory() != nullptr;
}

// A shutdown before any registration still starts discovery and stops it again, so that the
// factory refuses afterwards whatever happened before.
void close()
{
    Discovery::factory();
    Discovery::close();
}

bool pause(bool paused)
{
    Discovery* discovery = Discovery::factory();
    if (discovery == nullptr)
        return false;
    discovery->pausePolling(paused);
    return true;
}

bool paused()
{
    const Discovery* discovery = Discovery::existing();
    return discovery != nullptr && discovery->paused();
}

bool localInterfacesOnly()
{
    return localFlag.load();
}

bool findCamera(const char* name, uint32_t& address)
{
    const Discovery* discovery = Discovery::factory();
    return discovery != nullptr && discovery->lookup(name, address);
}

std::string cameraIdentity(uint32_t address)
{
    const Discovery* discovery = Discovery::existing();
    return discovery != nullptr ? discovery->identity(address) : std::string();
}

bool addCamera(const char* name, uint32_t& address)
{
    Discovery* discovery = Discovery::factory();
    return discovery != nullptr && discovery->addCameraByAddress(name, address);
}

std::string refusal(uint32_t address)
{
    const Discovery* discovery = Discovery::existing();
    const discovery::DiscoveryDb* database = discovery != nullptr ? discovery->database() : nullptr;
    if (database == nullptr)
        return {};
    return database->refusal(address).value_or(std::string());
}

} // namespace halvex::discovery::seam
